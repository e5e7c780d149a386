// The PostgreSQL implementation of Storage: a fixed pool of connections shared by the request
// threads, every operation one parameterised statement, atomic in the database, so that any
// number of server processes can share one database.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "storage/postgres_handles.h"
#include "storage/storage.h"
#include "storage/upload_tables.h"

namespace tolvane::server {
namespace {

using postgres::Params;
using postgres::Result;

// Enough for the server's messages; a longer one is cut, never passed on whole.
constexpr std::size_t kMaxErrorLength = 300;
// Seconds a new or reset connection may take before the operation answers unavailable.
constexpr const char* kConnectTimeoutSeconds = "10";
// A token's use is written down at most this often: most look-ups stay reads.
constexpr std::int64_t kRenewEverySeconds = 3600;
// Any fixed number: processes starting together take turns at creating the schema.
constexpr const char* kSchemaLockKey = "7370019275";

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts(
  id BIGSERIAL PRIMARY KEY,
  email TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  tier TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS pending_sign_ins(
  ticket_hash TEXT PRIMARY KEY,
  challenge TEXT NOT NULL,
  state TEXT NOT NULL,
  expires_at BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS pending_sign_ins_by_expiry ON pending_sign_ins(expires_at);
CREATE TABLE IF NOT EXISTS codes(
  code_hash TEXT PRIMARY KEY,
  account_id BIGINT NOT NULL REFERENCES accounts(id),
  challenge TEXT NOT NULL,
  expires_at BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS codes_by_expiry ON codes(expires_at);
CREATE TABLE IF NOT EXISTS tokens(
  token_hash TEXT PRIMARY KEY,
  account_id BIGINT NOT NULL REFERENCES accounts(id),
  device_id TEXT NOT NULL,
  created_at BIGINT NOT NULL,
  revoked_at BIGINT,
  last_used_at BIGINT NOT NULL DEFAULT 0,
  code_hash TEXT);
CREATE TABLE IF NOT EXISTS sync_records(
  account_id BIGINT PRIMARY KEY REFERENCES accounts(id),
  version BIGINT NOT NULL,
  blob BYTEA NOT NULL,
  device_id TEXT NOT NULL,
  updated_at BIGINT NOT NULL);
-- From the first schema: tokens expire when idle (those issued before count as used at the
-- upgrade, which signs nobody out) and remember their code.
ALTER TABLE tokens ADD COLUMN IF NOT EXISTS last_used_at BIGINT NOT NULL DEFAULT 0;
ALTER TABLE tokens ADD COLUMN IF NOT EXISTS code_hash TEXT;
UPDATE tokens SET last_used_at = GREATEST(created_at, extract(epoch FROM now())::BIGINT)
  WHERE last_used_at = 0;
CREATE INDEX IF NOT EXISTS tokens_by_account ON tokens(account_id);
CREATE INDEX IF NOT EXISTS tokens_by_code ON tokens(code_hash);
)sql";

// The tables of kSchema, besides the upload tables.
constexpr const char* kCoreTables[] = {"accounts", "pending_sign_ins", "codes", "tokens",
                                       "sync_records"};

// Uploads are anonymous: the first schema's account link is dropped with its column.
std::string uploadTableSchema(UploadTable table) {
  const std::string name = uploadTableName(table);
  return "CREATE TABLE IF NOT EXISTS " + name +
         "(id BIGSERIAL PRIMARY KEY, install_id TEXT NOT NULL,"
         " app_version TEXT NOT NULL, body TEXT NOT NULL, received_at BIGINT NOT NULL);"
         "ALTER TABLE " +
         name + " DROP COLUMN IF EXISTS account_id;CREATE INDEX IF NOT EXISTS " + name +
         "_by_time ON " + name + "(received_at);";
}

// The server's or libpq's message on one line, bounded.
std::string errorText(const PGresult* result, PGconn* connection) {
  std::string text = result ? PQresultErrorMessage(result) : "";
  if (text.empty()) text = PQerrorMessage(connection);
  std::replace(text.begin(), text.end(), '\n', ' ');
  text.erase(
      std::unique(text.begin(), text.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
      text.end());
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.size() > kMaxErrorLength) text.resize(kMaxErrorLength);
  return text;
}

postgres::Connection connect(const std::string& url, std::string& whyNot) {
  // Later keywords win over earlier ones: a timeout in the URL overrides this default.
  const char* keywords[] = {"connect_timeout", "dbname", nullptr};
  const char* values[] = {kConnectTimeoutSeconds, url.c_str(), nullptr};
  postgres::Connection connection(PQconnectdbParams(keywords, values, 1));
  if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
    whyNot = "cannot connect to PostgreSQL: " +
             (connection ? errorText(nullptr, connection.get()) : std::string("out of memory"));
    return nullptr;
  }
  return connection;
}

// Whether every table exists already: a role that may use the tables but not create any (the
// default for non-owners of schema public since PostgreSQL 15) then needs no CREATE rights.
bool schemaComplete(PGconn* connection) {
  std::string names, uploads;
  for (const char* table : kCoreTables) names += std::string("'") + table + "',";
  for (UploadTable table : kAllUploadTables)
    uploads += std::string("'") + uploadTableName(table) + "',";
  uploads.pop_back();
  names += uploads;
  // Of the current schema: the tokens' newest column there, the uploads' account link gone.
  const std::string sql =
      "SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema()"
      " AND tablename IN (" +
      names +
      ") AND EXISTS (SELECT 1 FROM information_schema.columns WHERE table_schema ="
      " current_schema() AND table_name = 'tokens' AND column_name = 'code_hash')"
      " AND NOT EXISTS (SELECT 1 FROM information_schema.columns WHERE table_schema ="
      " current_schema() AND column_name = 'account_id' AND table_name IN (" +
      uploads + "))";
  const Result result = Params().run(connection, sql.c_str());
  const auto tables = static_cast<std::int64_t>(std::size(kCoreTables) + kAllUploadTables.size());
  return PQresultStatus(result.get()) == PGRES_TUPLES_OK && PQntuples(result.get()) == 1 &&
         postgres::integer(result.get(), 0, 0) == tables;
}

bool createSchema(PGconn* connection, std::string& whyNot) {
  if (schemaComplete(connection)) return true;
  // The notices of tables that exist already are the normal case, not news for the log.
  std::string sql = std::string("BEGIN; SET LOCAL client_min_messages = warning;") +
                    "SELECT pg_advisory_xact_lock(" + kSchemaLockKey + ");";
  sql += kSchema;
  for (UploadTable table : kAllUploadTables) sql += uploadTableSchema(table);
  sql += "COMMIT;";
  Result result(PQexec(connection, sql.c_str()));
  if (result && PQresultStatus(result.get()) == PGRES_COMMAND_OK) return true;
  whyNot = "cannot create the schema in PostgreSQL: " + errorText(result.get(), connection);
  Result(PQexec(connection, "ROLLBACK"));
  return false;
}

template <typename T>
StoreResult<T> success(T value) {
  return {StoreStatus::ok, std::move(value), {}};
}

// The outcome of a statement that failed, by its SQLSTATE.
template <typename T>
StoreResult<T> failure(const PGresult* result, PGconn* connection) {
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  const std::string code = state ? state : "";
  if (code == "23505") return {StoreStatus::exists, {}, "already stored"};
  if (code == "23503") return {StoreStatus::notFound, {}, "no such account"};
  return {StoreStatus::unavailable, {}, "PostgreSQL: " + errorText(result, connection)};
}

bool failed(const PGresult* result) {
  const ExecStatusType status = PQresultStatus(result);
  return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
}

Account accountFrom(const PGresult* result) {
  return Account{.id = postgres::integer(result, 0, 0),
                 .email = postgres::text(result, 0, 1),
                 .tier = postgres::text(result, 0, 2),
                 .passwordHash = postgres::text(result, 0, 3)};
}

// The connections, lent one per operation; a connection found broken is reset by the next
// operation that borrows it, so a restarted server is picked up without restarting ours.
class ConnectionPool {
 public:
  explicit ConnectionPool(std::vector<postgres::Connection> connections)
      : idle_(std::move(connections)) {}

  class Lease {
   public:
    Lease(ConnectionPool* pool, postgres::Connection connection)
        : pool_(pool), connection_(std::move(connection)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() { pool_->giveBack(std::move(connection_)); }
    PGconn* get() const { return connection_.get(); }

   private:
    ConnectionPool* pool_;
    postgres::Connection connection_;
  };

  /// Waits for a free connection; a broken one is reset first (outside the lock: resetting
  /// waits on the network).
  Lease acquire() {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [&] { return !idle_.empty(); });
    postgres::Connection connection = std::move(idle_.back());
    idle_.pop_back();
    lock.unlock();
    if (PQstatus(connection.get()) == CONNECTION_BAD) PQreset(connection.get());
    return Lease(this, std::move(connection));
  }

 private:
  void giveBack(postgres::Connection connection) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(connection));
    returned_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<postgres::Connection> idle_;
};

class PostgresStorage final : public Storage {
 public:
  explicit PostgresStorage(std::vector<postgres::Connection> connections)
      : pool_(std::move(connections)) {}

  StoreResult<Account> createAccount(const std::string& email, const std::string& passwordHash,
                                     const std::string& tier) override {
    return query<Account>(
        "INSERT INTO accounts(email, password_hash, tier) VALUES ($1, $2, $3)"
        " RETURNING id, email, tier, password_hash",
        Params().add(email).add(passwordHash).add(tier),
        [](const PGresult* rows) { return success(accountFrom(rows)); });
  }

  StoreResult<Account> accountByEmail(const std::string& email) override {
    return query<Account>("SELECT id, email, tier, password_hash FROM accounts WHERE email = $1",
                          Params().add(email), accountOrNotFound);
  }

  StoreStatus addPendingSignIn(const std::string& ticketHash, const PendingSignIn& pending,
                               std::int64_t now, std::int64_t maxLive) override {
    // Processes racing for the last place may both take it: the bound is a ceiling against
    // floods, not an exact count.
    return query<bool>(
               "INSERT INTO pending_sign_ins(ticket_hash, challenge, state, expires_at)"
               " SELECT $1, $2, $3, $4 WHERE (SELECT count(*) FROM pending_sign_ins"
               " WHERE expires_at > $5) < $6",
               Params()
                   .add(ticketHash)
                   .add(pending.challenge)
                   .add(pending.state)
                   .add(pending.expiresAt)
                   .add(now)
                   .add(maxLive),
               [](const PGresult* rows) -> StoreResult<bool> {
                 if (std::string_view(PQcmdTuples(const_cast<PGresult*>(rows))) == "0")
                   return {StoreStatus::full, {}, "too many sign-ins"};
                 return success(true);
               })
        .status;
  }

  StoreResult<PendingSignIn> takePendingSignIn(const std::string& ticketHash,
                                               std::int64_t now) override {
    return query<PendingSignIn>(
        "DELETE FROM pending_sign_ins WHERE ticket_hash = $1"
        " RETURNING challenge, state, expires_at",
        Params().add(ticketHash), [now](const PGresult* rows) -> StoreResult<PendingSignIn> {
          if (PQntuples(rows) == 0) return {StoreStatus::notFound, {}, "no such sign-in"};
          PendingSignIn pending{.challenge = postgres::text(rows, 0, 0),
                                .state = postgres::text(rows, 0, 1),
                                .expiresAt = postgres::integer(rows, 0, 2)};
          if (pending.expiresAt <= now) return {StoreStatus::notFound, {}, "sign-in expired"};
          return success(std::move(pending));
        });
  }

  StoreStatus addCode(const std::string& codeHash, std::int64_t accountId,
                      const std::string& challenge, std::int64_t expiresAt) override {
    return command(
        "INSERT INTO codes(code_hash, account_id, challenge, expires_at) VALUES ($1, $2, $3, $4)",
        Params().add(codeHash).add(accountId).add(challenge).add(expiresAt));
  }

  StoreResult<CodeGrant> takeCode(const std::string& codeHash, std::int64_t now) override {
    return query<CodeGrant>(
        "DELETE FROM codes WHERE code_hash = $1 RETURNING account_id, challenge, expires_at",
        Params().add(codeHash), [now](const PGresult* rows) -> StoreResult<CodeGrant> {
          if (PQntuples(rows) == 0) return {StoreStatus::notFound, {}, "no such code"};
          if (postgres::integer(rows, 0, 2) <= now) {
            return {StoreStatus::notFound, {}, "code expired"};
          }
          return success(CodeGrant{.accountId = postgres::integer(rows, 0, 0),
                                   .challenge = postgres::text(rows, 0, 1)});
        });
  }

  StoreStatus addToken(const std::string& tokenHash, std::int64_t accountId,
                       const std::string& deviceId, const std::string& codeHash,
                       std::int64_t createdAt) override {
    return command(
        "INSERT INTO tokens(token_hash, account_id, device_id, code_hash, created_at,"
        " last_used_at) VALUES ($1, $2, $3, $4, $5, $5)",
        Params().add(tokenHash).add(accountId).add(deviceId).add(codeHash).add(createdAt));
  }

  StoreResult<Account> accountForToken(const std::string& tokenHash, std::int64_t now,
                                       std::int64_t idleSince) override {
    std::int64_t lastUsed = 0;
    auto found = query<Account>(
        "SELECT a.id, a.email, a.tier, a.password_hash, t.last_used_at FROM tokens t"
        " JOIN accounts a ON a.id = t.account_id"
        " WHERE t.token_hash = $1 AND t.revoked_at IS NULL AND t.last_used_at > $2",
        Params().add(tokenHash).add(idleSince), [&](const PGresult* rows) {
          if (PQntuples(rows) == 1) lastUsed = postgres::integer(rows, 0, 4);
          return accountOrNotFound(rows);
        });
    // A renewal that fails now leaves the token as it was.
    if (found.ok() && lastUsed <= now - kRenewEverySeconds) {
      command("UPDATE tokens SET last_used_at = $1 WHERE token_hash = $2",
              Params().add(now).add(tokenHash));
    }
    return found;
  }

  StoreStatus revokeTokenOfCode(const std::string& codeHash, std::int64_t now) override {
    return command("UPDATE tokens SET revoked_at = $1 WHERE code_hash = $2 AND revoked_at IS NULL",
                   Params().add(now).add(codeHash));
  }

  StoreStatus revokeAllTokens(std::int64_t accountId, std::int64_t now) override {
    return command("UPDATE tokens SET revoked_at = $1 WHERE account_id = $2 AND revoked_at IS NULL",
                   Params().add(now).add(accountId));
  }

  StoreStatus revokeToken(const std::string& tokenHash, std::int64_t now) override {
    return command("UPDATE tokens SET revoked_at = $1 WHERE token_hash = $2 AND revoked_at IS NULL",
                   Params().add(now).add(tokenHash));
  }

  StoreResult<SyncRecord> syncRecord(std::int64_t accountId) override {
    return query<SyncRecord>(
        "SELECT version, blob FROM sync_records WHERE account_id = $1", Params().add(accountId),
        [](const PGresult* rows) -> StoreResult<SyncRecord> {
          if (PQntuples(rows) == 0) return success(SyncRecord{});
          std::optional<std::string> blob = postgres::bytes(rows, 0, 1);
          if (!blob) return {StoreStatus::unavailable, {}, "out of memory"};
          return success(SyncRecord{.version = postgres::integer(rows, 0, 0), .blob = *blob});
        });
  }

  StoreResult<std::int64_t> commitSync(std::int64_t accountId, std::int64_t baseVersion,
                                       const std::string& blob, const std::string& deviceId,
                                       std::int64_t now) override {
    // One statement decides and writes. A second writer on the same row waits for the first
    // to commit and then evaluates the WHERE against the row the first one left.
    return query<std::int64_t>(
        "INSERT INTO sync_records(account_id, version, blob, device_id, updated_at)"
        " VALUES ($1, 1, $2, $3, $4) ON CONFLICT (account_id) DO UPDATE SET"
        " version = sync_records.version + 1, blob = EXCLUDED.blob,"
        " device_id = EXCLUDED.device_id, updated_at = EXCLUDED.updated_at"
        " WHERE sync_records.version = $5 RETURNING version",
        Params().add(accountId).addBytes(blob).add(deviceId).add(now).add(baseVersion),
        [](const PGresult* rows) -> StoreResult<std::int64_t> {
          if (PQntuples(rows) == 0) return {StoreStatus::conflict, {}, "stored version differs"};
          return success(postgres::integer(rows, 0, 0));
        });
  }

  StoreStatus addUpload(const StoredUpload& upload) override {
    const std::string sql = std::string("INSERT INTO ") + uploadTableName(upload.table) +
                            "(install_id, app_version, body, received_at)"
                            " VALUES ($1, $2, $3, $4)";
    return command(sql.c_str(), Params()
                                    .add(upload.installID)
                                    .add(upload.appVersion)
                                    .add(upload.body)
                                    .add(upload.receivedAt));
  }

  StoreResult<std::int64_t> countUploads(UploadTable table) override {
    const std::string sql = std::string("SELECT count(*) FROM ") + uploadTableName(table);
    return query<std::int64_t>(sql.c_str(), Params(), [](const PGresult* rows) {
      return success(postgres::integer(rows, 0, 0));
    });
  }

  StoreStatus purgeExpired(std::int64_t now) override {
    const StoreStatus pending =
        command("DELETE FROM pending_sign_ins WHERE expires_at <= $1", Params().add(now));
    if (pending != StoreStatus::ok) return pending;
    return command("DELETE FROM codes WHERE expires_at <= $1", Params().add(now));
  }

  StoreStatus purgeUploads(std::int64_t receivedBefore) override {
    for (UploadTable table : kAllUploadTables) {
      const std::string sql =
          std::string("DELETE FROM ") + uploadTableName(table) + " WHERE received_at < $1";
      const StoreStatus purged = command(sql.c_str(), Params().add(receivedBefore));
      if (purged != StoreStatus::ok) return purged;
    }
    return StoreStatus::ok;
  }

 private:
  static StoreResult<Account> accountOrNotFound(const PGresult* rows) {
    if (PQntuples(rows) == 0) return {StoreStatus::notFound, {}, "no such account"};
    return success(accountFrom(rows));
  }

  // Runs one statement on a lent connection and reads its rows with `read`.
  template <typename T, typename Read>
  StoreResult<T> query(const char* sql, const Params& params, Read&& read) {
    ConnectionPool::Lease connection = pool_.acquire();
    if (PQstatus(connection.get()) == CONNECTION_BAD) {
      return {StoreStatus::unavailable,
              {},
              "PostgreSQL connection lost: " + errorText(nullptr, connection.get())};
    }
    const Result result = params.run(connection.get(), sql);
    if (failed(result.get())) return failure<T>(result.get(), connection.get());
    return read(result.get());
  }

  StoreStatus command(const char* sql, const Params& params) {
    return query<bool>(sql, params, [](const PGresult*) { return success(true); }).status;
  }

  ConnectionPool pool_;
};

// Whether libpq reaches `host` without leaving this machine: a socket folder or loopback.
bool isLocalHost(std::string_view host) {
  return host.empty() || host.starts_with('/') || host.starts_with('@') || host == "localhost" ||
         host.starts_with("127.") || host == "::1";
}

}  // namespace

std::string postgresTransportWarning(const std::string& url) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
  // A string libpq cannot read is reported by the connection attempt itself.
  if (!options) {
    PQfreemem(error);
    return {};
  }
  std::string hosts, sslmode;
  for (const PQconninfoOption* option = options; option->keyword; ++option) {
    const std::string_view keyword = option->keyword;
    if (!option->val) continue;
    if (keyword == "host" || keyword == "hostaddr") hosts += std::string(option->val) + ",";
    if (keyword == "sslmode") sslmode = option->val;
  }
  PQconninfoFree(options);
  bool remote = false;
  std::string_view rest = hosts;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    remote = remote || !isLocalHost(rest.substr(0, comma));
    rest.remove_prefix(comma + 1);
  }
  if (!remote || sslmode == "verify-full") return {};
  return "PostgreSQL on another machine without sslmode=verify-full: the connection is not "
         "verified and may be plain text (add sslmode=verify-full to --postgres)";
}

std::unique_ptr<Storage> openPostgresStorage(const std::string& url, int connections,
                                             std::string& whyNot) {
  std::vector<postgres::Connection> pool;
  for (int i = 0; i < std::max(connections, 1); ++i) {
    postgres::Connection connection = connect(url, whyNot);
    if (!connection) return nullptr;
    pool.push_back(std::move(connection));
  }
  if (!createSchema(pool.front().get(), whyNot)) return nullptr;
  return std::make_unique<PostgresStorage>(std::move(pool));
}

}  // namespace tolvane::server
