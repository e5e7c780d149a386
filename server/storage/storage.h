// Everything tolvane-server keeps, behind one interface: SQLite for one machine, PostgreSQL
// for several server processes sharing one database. Every operation is one atomic step in
// the database itself, so two processes (or two threads) never interleave inside one.
// Secrets arrive here already hashed; no implementation sees a password, code or token.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tolvane::server {

enum class StoreStatus {
  ok,
  /// No such row (or an expired one).
  notFound,
  /// An account with that e-mail exists already.
  exists,
  /// The sync record's version is not the base the writer named.
  conflict,
  /// A bounded table holds as many live rows as it may.
  full,
  /// The database cannot answer now (file missing or read-only, connection lost, disk full).
  /// `detail` says why; the server answers 503 and tries again on the next request.
  unavailable,
};

template <typename T>
struct StoreResult {
  StoreStatus status = StoreStatus::unavailable;
  T value{};
  std::string detail;

  bool ok() const { return status == StoreStatus::ok; }
};

struct Account {
  std::int64_t id = 0;
  std::string email;
  std::string tier;
  /// Argon2id encoded hash ("$argon2id$v=19$…").
  std::string passwordHash;
};

/// A sign-in page that was shown: the browser's form must come back with its ticket, and the
/// code it yields is bound to the application's challenge and echoes its state.
struct PendingSignIn {
  std::string challenge;
  std::string state;
  std::int64_t expiresAt = 0;
};

/// An authorization code waiting for its exchange.
struct CodeGrant {
  std::int64_t accountId = 0;
  std::string challenge;
};

struct SyncRecord {
  /// 0 when the account never synced; then `blob` is empty.
  std::int64_t version = 0;
  std::string blob;
};

enum class UploadTable { usage, crash, testlog };

/// Uploads are anonymous: nothing in one links it to an account or a token.
struct StoredUpload {
  UploadTable table = UploadTable::usage;
  std::string installID;
  std::string appVersion;
  /// The body's known fields (valid UTF-8 JSON, already bounded by the server).
  std::string body;
  std::int64_t receivedAt = 0;
};

/// Times are seconds since 1970. Hashes are lowercase hex SHA-256 of the secret.
class Storage {
 public:
  virtual ~Storage() = default;

  /// `exists` when the e-mail (compared as given: the server normalises) is taken.
  virtual StoreResult<Account> createAccount(const std::string& email,
                                             const std::string& passwordHash,
                                             const std::string& tier) = 0;
  virtual StoreResult<Account> accountByEmail(const std::string& email) = 0;

  /// `full` when `maxLive` pending sign-ins not expired at `now` are stored already: a flood
  /// of opened pages cannot grow the table without end.
  virtual StoreStatus addPendingSignIn(const std::string& ticketHash, const PendingSignIn& pending,
                                       std::int64_t now, std::int64_t maxLive) = 0;
  /// Removes and returns the pending sign-in; `notFound` when absent or expired at `now`.
  /// Two callers racing on one ticket: exactly one gets it.
  virtual StoreResult<PendingSignIn> takePendingSignIn(const std::string& ticketHash,
                                                       std::int64_t now) = 0;

  virtual StoreStatus addCode(const std::string& codeHash, std::int64_t accountId,
                              const std::string& challenge, std::int64_t expiresAt) = 0;
  /// Removes and returns the code's grant; `notFound` when absent, used or expired at `now`.
  /// Two exchanges racing on one code: exactly one gets it.
  virtual StoreResult<CodeGrant> takeCode(const std::string& codeHash, std::int64_t now) = 0;

  /// A token issued at `createdAt` in exchange for the code `codeHash`.
  virtual StoreStatus addToken(const std::string& tokenHash, std::int64_t accountId,
                               const std::string& deviceId, const std::string& codeHash,
                               std::int64_t createdAt) = 0;
  /// The account a live token belongs to: not revoked and used after `idleSince`. Using it
  /// at `now` renews it (recorded at most hourly: most look-ups stay reads). `notFound`
  /// otherwise.
  virtual StoreResult<Account> accountForToken(const std::string& tokenHash, std::int64_t now,
                                               std::int64_t idleSince) = 0;
  /// `ok` also when the token was unknown or revoked before: sign-out is idempotent.
  virtual StoreStatus revokeToken(const std::string& tokenHash, std::int64_t now) = 0;
  /// Revokes the token issued for the code `codeHash` (a replayed code), if any.
  virtual StoreStatus revokeTokenOfCode(const std::string& codeHash, std::int64_t now) = 0;
  /// Revokes every token of the account: signed out everywhere.
  virtual StoreStatus revokeAllTokens(std::int64_t accountId, std::int64_t now) = 0;

  /// Version 0 and an empty blob when the account never synced.
  virtual StoreResult<SyncRecord> syncRecord(std::int64_t accountId) = 0;
  /// Stores `blob` as the next version when the stored version equals `baseVersion`, or when
  /// nothing is stored yet (whatever the base: there is nothing to overwrite). Returns the new
  /// version; `conflict` otherwise. Atomic: of two writers on one base exactly one wins.
  virtual StoreResult<std::int64_t> commitSync(std::int64_t accountId, std::int64_t baseVersion,
                                               const std::string& blob, const std::string& deviceId,
                                               std::int64_t now) = 0;

  virtual StoreStatus addUpload(const StoredUpload& upload) = 0;
  /// Rows in `table`, for operators' checks and the tests.
  virtual StoreResult<std::int64_t> countUploads(UploadTable table) = 0;

  /// Drops expired pending sign-ins and codes; called now and then by the server.
  virtual StoreStatus purgeExpired(std::int64_t now) = 0;
  /// Drops the uploads received before `receivedBefore`; called daily by the server.
  virtual StoreStatus purgeUploads(std::int64_t receivedBefore) = 0;
};

/// Opens (creating when missing) the SQLite database at `path` in WAL mode with its schema.
/// Nothing, with `whyNot` set, when it cannot be opened or is not ours.
std::unique_ptr<Storage> openSqliteStorage(const std::string& path, std::string& whyNot);
/// What to tell the operator about `url` before connecting: a warning when it names a host
/// that is not this machine without sslmode=verify-full (the password and the data would
/// cross the network unverified, or in plain text); "" otherwise.
std::string postgresTransportWarning(const std::string& url);
/// Connects to PostgreSQL (a libpq connection URI or key=value string) with a pool of
/// `connections` and creates the schema when missing.
std::unique_ptr<Storage> openPostgresStorage(const std::string& url, int connections,
                                             std::string& whyNot);

}  // namespace tolvane::server
