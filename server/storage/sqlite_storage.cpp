// The SQLite implementation of Storage: one database file in WAL mode, a few connections so that
// reads run in parallel, and every operation a single statement, atomic in the database.
#include <string>
#include <utility>

#include "storage/sqlite_handles.h"
#include "storage/sqlite_pool.h"
#include "storage/storage.h"
#include "storage/upload_tables.h"

namespace tolvane::server {
namespace {

using sqlite::Access;
using sqlite::Statement;

// "Tolv" in the file's header: a database of another program is refused, never altered.
constexpr std::int64_t kApplicationId = 0x546f6c76;
// 2: tokens expire when idle and remember their code; uploads hold no account.
constexpr std::int64_t kSchemaVersion = 2;
// A token's use is written down at most this often: most look-ups stay reads.
constexpr std::int64_t kRenewEverySeconds = 3600;
// Requests are served by a thread pool; a few connections let their reads overlap, while
// SQLite itself lets one writer at a time through.
constexpr int kConnections = 4;

constexpr const char* kSchema = R"sql(
CREATE TABLE accounts(
  id INTEGER PRIMARY KEY,
  email TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  tier TEXT NOT NULL);
CREATE TABLE pending_sign_ins(
  ticket_hash TEXT PRIMARY KEY,
  challenge TEXT NOT NULL,
  state TEXT NOT NULL,
  expires_at INTEGER NOT NULL);
CREATE INDEX pending_sign_ins_by_expiry ON pending_sign_ins(expires_at);
CREATE TABLE codes(
  code_hash TEXT PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id),
  challenge TEXT NOT NULL,
  expires_at INTEGER NOT NULL);
CREATE INDEX codes_by_expiry ON codes(expires_at);
CREATE TABLE tokens(
  token_hash TEXT PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id),
  device_id TEXT NOT NULL,
  created_at INTEGER NOT NULL,
  revoked_at INTEGER,
  last_used_at INTEGER NOT NULL DEFAULT 0,
  code_hash TEXT);
CREATE INDEX tokens_by_account ON tokens(account_id);
CREATE INDEX tokens_by_code ON tokens(code_hash);
CREATE TABLE sync_records(
  account_id INTEGER PRIMARY KEY REFERENCES accounts(id),
  version INTEGER NOT NULL,
  blob BLOB NOT NULL,
  device_id TEXT NOT NULL,
  updated_at INTEGER NOT NULL);
)sql";

// From schema 1. Tokens issued before count as used at the upgrade, which signs nobody out;
// the account link of the uploads is dropped with its column (the table is rewritten).
constexpr const char* kMigrateTokensFrom1 = R"sql(
ALTER TABLE tokens ADD COLUMN last_used_at INTEGER NOT NULL DEFAULT 0;
ALTER TABLE tokens ADD COLUMN code_hash TEXT;
UPDATE tokens SET last_used_at = max(created_at, unixepoch());
CREATE INDEX tokens_by_account ON tokens(account_id);
CREATE INDEX tokens_by_code ON tokens(code_hash);
)sql";

std::string uploadTableSchema(UploadTable table) {
  const std::string name = uploadTableName(table);
  return "CREATE TABLE " + name +
         "(id INTEGER PRIMARY KEY, install_id TEXT NOT NULL,"
         " app_version TEXT NOT NULL, body TEXT NOT NULL, received_at INTEGER NOT NULL);"
         "CREATE INDEX " +
         name + "_by_time ON " + name + "(received_at);";
}

std::string uploadTableFrom1(UploadTable table) {
  const std::string name = uploadTableName(table);
  return "ALTER TABLE " + name + " DROP COLUMN account_id;CREATE INDEX " + name + "_by_time ON " +
         name + "(received_at);";
}

// Why `db` could not be used for `what`; a file of another kind is named as such.
std::string cannot(sqlite3* db, const char* what, const std::string& path) {
  if (sqlite3_errcode(db) == SQLITE_NOTADB) {
    return path + " is not a tolvane-server database (" + sqlite3_errmsg(db) + ")";
  }
  return std::string("cannot ") + what + " " + path + ": " + sqlite3_errmsg(db);
}

std::optional<std::int64_t> integerQuery(sqlite3* db, const char* sql, std::string& error) {
  Statement statement(db, sql);
  if (statement.step() != SQLITE_ROW) {
    error = statement.errorText();
    return std::nullopt;
  }
  return statement.integer(0);
}

bool createSchema(sqlite3* db) {
  std::string sql = kSchema;
  for (UploadTable table : kAllUploadTables) sql += uploadTableSchema(table);
  sql += "PRAGMA application_id=" + std::to_string(kApplicationId) + ";";
  sql += "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
  return sqlite::execute(db, sql.c_str()) == SQLITE_OK;
}

bool migrateFrom1(sqlite3* db) {
  std::string sql = kMigrateTokensFrom1;
  for (UploadTable table : kAllUploadTables) sql += uploadTableFrom1(table);
  sql += "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
  return sqlite::execute(db, sql.c_str()) == SQLITE_OK;
}

// ours: current; older: ours, of schema 1, to be migrated.
enum class FileKind { ours, older, empty, other };

// Reads what the file holds; `whyNot` says why when it is not ours or cannot be read.
FileKind classify(sqlite3* db, const std::string& path, std::string& whyNot) {
  std::string error;
  const auto applicationId = integerQuery(db, "PRAGMA application_id", error);
  const auto version = integerQuery(db, "PRAGMA user_version", error);
  const auto objects = integerQuery(db, "SELECT count(*) FROM sqlite_schema", error);
  if (!applicationId || !version || !objects) {
    whyNot = "cannot read database " + path + ": " + error;
    return FileKind::other;
  }
  if (*applicationId == 0 && *objects == 0) return FileKind::empty;
  if (*applicationId != kApplicationId) {
    whyNot = path + " is not a tolvane-server database (it holds another program's data)";
    return FileKind::other;
  }
  if (*version > kSchemaVersion) {
    whyNot = path + " was written by a newer tolvane-server (schema " + std::to_string(*version) +
             ", this one knows " + std::to_string(kSchemaVersion) + ")";
    return FileKind::other;
  }
  return *version < kSchemaVersion ? FileKind::older : FileKind::ours;
}

// Creates the schema in an empty database or migrates an older one, inside one write
// transaction so that two processes starting on one file do not both do it.
bool createSchemaOnce(sqlite3* db, const std::string& path, std::string& whyNot) {
  if (sqlite::execute(db, "BEGIN IMMEDIATE") != SQLITE_OK) {
    whyNot = cannot(db, "write", path);
    return false;
  }
  bool ready = false;
  switch (classify(db, path, whyNot)) {
    case FileKind::ours:
      ready = true;
      break;
    case FileKind::empty:
      ready = createSchema(db) && sqlite::execute(db, "COMMIT") == SQLITE_OK;
      if (!ready) whyNot = "cannot create the schema in " + path + ": " + sqlite3_errmsg(db);
      break;
    case FileKind::older:
      ready = migrateFrom1(db) && sqlite::execute(db, "COMMIT") == SQLITE_OK;
      if (!ready) whyNot = "cannot upgrade the schema of " + path + ": " + sqlite3_errmsg(db);
      break;
    case FileKind::other:
      break;
  }
  if (sqlite3_get_autocommit(db) == 0) sqlite::execute(db, "ROLLBACK");
  return ready;
}

// Makes a new connection ready. The file is only read until it is known to be ours or empty:
// another program's database is refused exactly as it was found, and a connection opened on a
// read-only file of ours still serves reads.
bool prepareConnection(sqlite3* db, const std::string& path, std::string& whyNot) {
  if (sqlite::execute(db, "PRAGMA foreign_keys=ON; PRAGMA synchronous=FULL") != SQLITE_OK) {
    whyNot = cannot(db, "configure", path);
    return false;
  }
  const FileKind kind = classify(db, path, whyNot);
  if (kind == FileKind::other) return false;
  std::string mode;
  {
    Statement journal(db, "PRAGMA journal_mode=WAL");
    if (journal.step() != SQLITE_ROW) {
      whyNot = cannot(db, "configure", path);
      return false;
    }
    mode = journal.text(0);
  }
  if (mode != "wal") {
    whyNot = "cannot switch " + path + " to write-ahead logging (journal mode " + mode + ")";
    return false;
  }
  return kind == FileKind::ours || createSchemaOnce(db, path, whyNot);
}

template <typename T>
StoreResult<T> failure(const Statement& statement, int rc, const std::string& path) {
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
      return {StoreStatus::exists, {}, "already stored"};
    case SQLITE_CONSTRAINT_FOREIGNKEY:
      return {StoreStatus::notFound, {}, "no such account"};
    default:
      return {StoreStatus::unavailable, {}, "database " + path + ": " + statement.errorText()};
  }
}

template <typename T>
StoreResult<T> success(T value) {
  return {StoreStatus::ok, std::move(value), {}};
}

Account accountFrom(const Statement& row) {
  return Account{
      .id = row.integer(0), .email = row.text(1), .tier = row.text(2), .passwordHash = row.text(3)};
}

class SqliteStorage final : public Storage {
 public:
  explicit SqliteStorage(const std::string& path)
      : pool_(path, kConnections, [path](sqlite3* db, std::string& whyNot) {
          return prepareConnection(db, path, whyNot);
        }) {}

  bool open(std::string& whyNot) { return pool_.open(whyNot); }

  StoreResult<Account> createAccount(const std::string& email, const std::string& passwordHash,
                                     const std::string& tier) override {
    return run<Account>(Access::write, [&](sqlite::Connection& db) -> StoreResult<Account> {
      Statement insert(db,
                       "INSERT INTO accounts(email, password_hash, tier) VALUES (?, ?, ?)"
                       " RETURNING id, email, tier, password_hash");
      insert.bind(email).bind(passwordHash).bind(tier);
      if (const int rc = insert.step(); rc != SQLITE_ROW)
        return failure<Account>(insert, rc, path());
      Account account = accountFrom(insert);
      if (const int rc = insert.finish(); rc != SQLITE_DONE) {
        return failure<Account>(insert, rc, path());
      }
      return success(std::move(account));
    });
  }

  StoreResult<Account> accountByEmail(const std::string& email) override {
    return run<Account>(Access::read, [&](sqlite::Connection& db) {
      Statement select(db, "SELECT id, email, tier, password_hash FROM accounts WHERE email = ?");
      select.bind(email);
      return singleAccount(select);
    });
  }

  StoreStatus addPendingSignIn(const std::string& ticketHash, const PendingSignIn& pending,
                               std::int64_t now, std::int64_t maxLive) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) -> StoreResult<bool> {
                       // The count and the insert in one statement: racing pages cannot
                       // both take the last place.
                       Statement insert(db,
                                        "INSERT INTO pending_sign_ins(ticket_hash, challenge,"
                                        " state, expires_at) SELECT ?, ?, ?, ? WHERE (SELECT"
                                        " count(*) FROM pending_sign_ins WHERE expires_at > ?)"
                                        " < ? RETURNING 1");
                       insert.bind(ticketHash).bind(pending.challenge).bind(pending.state);
                       insert.bind(pending.expiresAt).bind(now).bind(maxLive);
                       const int rc = insert.step();
                       if (rc == SQLITE_DONE) return {StoreStatus::full, {}, "too many sign-ins"};
                       if (rc != SQLITE_ROW) return failure<bool>(insert, rc, path());
                       return done(insert);
                     })
        .status;
  }

  StoreResult<PendingSignIn> takePendingSignIn(const std::string& ticketHash,
                                               std::int64_t now) override {
    return run<PendingSignIn>(
        Access::write, [&](sqlite::Connection& db) -> StoreResult<PendingSignIn> {
          Statement take(db,
                         "DELETE FROM pending_sign_ins WHERE ticket_hash = ?"
                         " RETURNING challenge, state, expires_at");
          take.bind(ticketHash);
          const int rc = take.step();
          if (rc == SQLITE_DONE) return {StoreStatus::notFound, {}, "no such sign-in"};
          if (rc != SQLITE_ROW) return failure<PendingSignIn>(take, rc, path());
          PendingSignIn pending{
              .challenge = take.text(0), .state = take.text(1), .expiresAt = take.integer(2)};
          if (const int end = take.finish(); end != SQLITE_DONE) {
            return failure<PendingSignIn>(take, end, path());
          }
          if (pending.expiresAt <= now) return {StoreStatus::notFound, {}, "sign-in expired"};
          return success(std::move(pending));
        });
  }

  StoreStatus addCode(const std::string& codeHash, std::int64_t accountId,
                      const std::string& challenge, std::int64_t expiresAt) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) {
                       Statement insert(
                           db,
                           "INSERT INTO codes(code_hash, account_id, challenge, expires_at)"
                           " VALUES (?, ?, ?, ?)");
                       insert.bind(codeHash).bind(accountId).bind(challenge).bind(expiresAt);
                       return done(insert);
                     })
        .status;
  }

  StoreResult<CodeGrant> takeCode(const std::string& codeHash, std::int64_t now) override {
    return run<CodeGrant>(Access::write, [&](sqlite::Connection& db) -> StoreResult<CodeGrant> {
      Statement take(db,
                     "DELETE FROM codes WHERE code_hash = ?"
                     " RETURNING account_id, challenge, expires_at");
      take.bind(codeHash);
      const int rc = take.step();
      if (rc == SQLITE_DONE) return {StoreStatus::notFound, {}, "no such code"};
      if (rc != SQLITE_ROW) return failure<CodeGrant>(take, rc, path());
      CodeGrant grant{.accountId = take.integer(0), .challenge = take.text(1)};
      const std::int64_t expiresAt = take.integer(2);
      if (const int end = take.finish(); end != SQLITE_DONE) {
        return failure<CodeGrant>(take, end, path());
      }
      if (expiresAt <= now) return {StoreStatus::notFound, {}, "code expired"};
      return success(std::move(grant));
    });
  }

  StoreStatus addToken(const std::string& tokenHash, std::int64_t accountId,
                       const std::string& deviceId, const std::string& codeHash,
                       std::int64_t createdAt) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) {
                       Statement insert(db,
                                        "INSERT INTO tokens(token_hash, account_id, device_id,"
                                        " code_hash, created_at, last_used_at)"
                                        " VALUES (?, ?, ?, ?, ?, ?)");
                       insert.bind(tokenHash).bind(accountId).bind(deviceId).bind(codeHash);
                       insert.bind(createdAt).bind(createdAt);
                       return done(insert);
                     })
        .status;
  }

  StoreResult<Account> accountForToken(const std::string& tokenHash, std::int64_t now,
                                       std::int64_t idleSince) override {
    std::int64_t lastUsed = 0;
    auto found = run<Account>(Access::read, [&](sqlite::Connection& db) -> StoreResult<Account> {
      Statement select(db,
                       "SELECT a.id, a.email, a.tier, a.password_hash, t.last_used_at"
                       " FROM tokens t JOIN accounts a ON a.id = t.account_id"
                       " WHERE t.token_hash = ? AND t.revoked_at IS NULL AND t.last_used_at > ?");
      select.bind(tokenHash).bind(idleSince);
      auto account = singleAccount(select);
      if (account.ok()) lastUsed = select.integer(4);
      return account;
    });
    // A renewal that cannot be written now (a read-only file) leaves the token as it was.
    if (found.ok() && lastUsed <= now - kRenewEverySeconds) {
      run<bool>(Access::write, [&](sqlite::Connection& db) {
        Statement renew(db, "UPDATE tokens SET last_used_at = ? WHERE token_hash = ?");
        renew.bind(now).bind(tokenHash);
        return done(renew);
      });
    }
    return found;
  }

  StoreStatus revokeTokenOfCode(const std::string& codeHash, std::int64_t now) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) {
                       Statement revoke(db,
                                        "UPDATE tokens SET revoked_at = ?"
                                        " WHERE code_hash = ? AND revoked_at IS NULL");
                       revoke.bind(now).bind(codeHash);
                       return done(revoke);
                     })
        .status;
  }

  StoreStatus revokeAllTokens(std::int64_t accountId, std::int64_t now) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) {
                       Statement revoke(db,
                                        "UPDATE tokens SET revoked_at = ?"
                                        " WHERE account_id = ? AND revoked_at IS NULL");
                       revoke.bind(now).bind(accountId);
                       return done(revoke);
                     })
        .status;
  }

  StoreStatus revokeToken(const std::string& tokenHash, std::int64_t now) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) {
                       Statement revoke(db,
                                        "UPDATE tokens SET revoked_at = ?"
                                        " WHERE token_hash = ? AND revoked_at IS NULL");
                       revoke.bind(now).bind(tokenHash);
                       return done(revoke);
                     })
        .status;
  }

  StoreResult<SyncRecord> syncRecord(std::int64_t accountId) override {
    return run<SyncRecord>(Access::read, [&](sqlite::Connection& db) -> StoreResult<SyncRecord> {
      Statement select(db, "SELECT version, blob FROM sync_records WHERE account_id = ?");
      select.bind(accountId);
      const int rc = select.step();
      if (rc == SQLITE_DONE) return success(SyncRecord{});
      if (rc != SQLITE_ROW) return failure<SyncRecord>(select, rc, path());
      return success(SyncRecord{.version = select.integer(0), .blob = select.text(1)});
    });
  }

  StoreResult<std::int64_t> commitSync(std::int64_t accountId, std::int64_t baseVersion,
                                       const std::string& blob, const std::string& deviceId,
                                       std::int64_t now) override {
    return run<std::int64_t>(
        Access::write, [&](sqlite::Connection& db) -> StoreResult<std::int64_t> {
          // One statement decides and writes: the version check and the new row cannot be
          // separated by another writer, in this process or another.
          Statement commit(
              db,
              "INSERT INTO sync_records(account_id, version, blob, device_id, updated_at)"
              " VALUES (?, 1, ?, ?, ?) ON CONFLICT(account_id) DO UPDATE SET"
              " version = sync_records.version + 1, blob = excluded.blob,"
              " device_id = excluded.device_id, updated_at = excluded.updated_at"
              " WHERE sync_records.version = ? RETURNING version");
          commit.bind(accountId).bindBlob(blob).bind(deviceId).bind(now).bind(baseVersion);
          const int rc = commit.step();
          if (rc == SQLITE_DONE) return {StoreStatus::conflict, {}, "stored version differs"};
          if (rc != SQLITE_ROW) return failure<std::int64_t>(commit, rc, path());
          const std::int64_t version = commit.integer(0);
          if (const int end = commit.finish(); end != SQLITE_DONE) {
            return failure<std::int64_t>(commit, end, path());
          }
          return success(version);
        });
  }

  StoreStatus addUpload(const StoredUpload& upload) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) {
                       Statement insert(db, std::string("INSERT INTO ") +
                                                uploadTableName(upload.table) +
                                                "(install_id, app_version, body, received_at)"
                                                " VALUES (?, ?, ?, ?)");
                       insert.bind(upload.installID).bind(upload.appVersion);
                       insert.bind(upload.body).bind(upload.receivedAt);
                       return done(insert);
                     })
        .status;
  }

  StoreResult<std::int64_t> countUploads(UploadTable table) override {
    return run<std::int64_t>(
        Access::read, [&](sqlite::Connection& db) -> StoreResult<std::int64_t> {
          Statement count(db, std::string("SELECT count(*) FROM ") + uploadTableName(table));
          const int rc = count.step();
          if (rc != SQLITE_ROW) return failure<std::int64_t>(count, rc, path());
          return success(count.integer(0));
        });
  }

  StoreStatus purgeExpired(std::int64_t now) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) {
                       Statement pending(db, "DELETE FROM pending_sign_ins WHERE expires_at <= ?");
                       pending.bind(now);
                       const StoreResult<bool> first = done(pending);
                       if (!first.ok()) return first;
                       Statement codes(db, "DELETE FROM codes WHERE expires_at <= ?");
                       codes.bind(now);
                       return done(codes);
                     })
        .status;
  }

  StoreStatus purgeUploads(std::int64_t receivedBefore) override {
    return run<bool>(Access::write,
                     [&](sqlite::Connection& db) {
                       StoreResult<bool> result = success(true);
                       for (UploadTable table : kAllUploadTables) {
                         Statement purge(db, std::string("DELETE FROM ") + uploadTableName(table) +
                                                 " WHERE received_at < ?");
                         purge.bind(receivedBefore);
                         if (result = done(purge); !result.ok()) break;
                       }
                       return result;
                     })
        .status;
  }

 private:
  const std::string& path() const { return pool_.path(); }

  // Runs one operation on a lent connection; a connection that failed is not lent again.
  template <typename T, typename Body>
  StoreResult<T> run(Access access, Body&& body) {
    std::string whyNot;
    std::optional<sqlite::Pool::Lease> lease = pool_.acquire(access, whyNot);
    if (!lease) return {StoreStatus::unavailable, {}, whyNot};
    StoreResult<T> result = body(lease->connection());
    if (result.status == StoreStatus::unavailable) lease->discard();
    return result;
  }

  StoreResult<bool> done(Statement& statement) const {
    const int rc = statement.finish();
    if (rc != SQLITE_DONE) return failure<bool>(statement, rc, path());
    return success(true);
  }

  StoreResult<Account> singleAccount(Statement& select) const {
    const int rc = select.step();
    if (rc == SQLITE_DONE) return {StoreStatus::notFound, {}, "no such account"};
    if (rc != SQLITE_ROW) return failure<Account>(select, rc, path());
    return success(accountFrom(select));
  }

  sqlite::Pool pool_;
};

}  // namespace

std::unique_ptr<Storage> openSqliteStorage(const std::string& path, std::string& whyNot) {
  auto storage = std::make_unique<SqliteStorage>(path);
  if (!storage->open(whyNot)) return nullptr;
  return storage;
}

}  // namespace tolvane::server
