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
  revoked_at BIGINT);
CREATE TABLE IF NOT EXISTS sync_records(
  account_id BIGINT PRIMARY KEY REFERENCES accounts(id),
  version BIGINT NOT NULL,
  blob BYTEA NOT NULL,
  device_id TEXT NOT NULL,
  updated_at BIGINT NOT NULL);
)sql";

// The tables of kSchema, besides the upload tables.
constexpr const char* kCoreTables[] = {"accounts", "pending_sign_ins", "codes", "tokens",
                                       "sync_records"};

std::string uploadTableSchema(UploadTable table) {
  return std::string("CREATE TABLE IF NOT EXISTS ") + uploadTableName(table) +
         "(id BIGSERIAL PRIMARY KEY, account_id BIGINT, install_id TEXT NOT NULL,"
         " app_version TEXT NOT NULL, body TEXT NOT NULL, received_at BIGINT NOT NULL);";
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
  std::string names;
  for (const char* table : kCoreTables) names += std::string("'") + table + "',";
  for (UploadTable table : kAllUploadTables)
    names += std::string("'") + uploadTableName(table) + "',";
  names.pop_back();
  const std::string sql =
      "SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema()"
      " AND tablename IN (" +
      names + ")";
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

  StoreStatus addPendingSignIn(const std::string& ticketHash,
                               const PendingSignIn& pending) override {
    return command(
        "INSERT INTO pending_sign_ins(ticket_hash, challenge, state, expires_at)"
        " VALUES ($1, $2, $3, $4)",
        Params().add(ticketHash).add(pending.challenge).add(pending.state).add(pending.expiresAt));
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
                       const std::string& deviceId, std::int64_t createdAt) override {
    return command(
        "INSERT INTO tokens(token_hash, account_id, device_id, created_at)"
        " VALUES ($1, $2, $3, $4)",
        Params().add(tokenHash).add(accountId).add(deviceId).add(createdAt));
  }

  StoreResult<Account> accountForToken(const std::string& tokenHash) override {
    return query<Account>(
        "SELECT a.id, a.email, a.tier, a.password_hash FROM tokens t"
        " JOIN accounts a ON a.id = t.account_id"
        " WHERE t.token_hash = $1 AND t.revoked_at IS NULL",
        Params().add(tokenHash), accountOrNotFound);
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
                            "(account_id, install_id, app_version, body, received_at)"
                            " VALUES ($1, $2, $3, $4, $5)";
    return command(sql.c_str(), Params()
                                    .add(upload.accountId)
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

}  // namespace

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
