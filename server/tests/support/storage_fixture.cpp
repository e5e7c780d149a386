// The storage fixture: a fresh SQLite file, or a fresh database in a private PostgreSQL
// cluster started once for the whole test program.
#include "support/storage_fixture.h"

#include <sqlite3.h>

namespace tolvane::server::test {

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::sqlite ? "SQLite" : "PostgreSQL";
}

void PrintTo(Backend backend, std::ostream* out) {
  *out << (backend == Backend::sqlite ? "SQLite" : "PostgreSQL");
}

// Connections per PostgreSQL storage: fewer than the racing tests' threads, so that they also
// queue for the pool.
constexpr int kPostgresConnections = 4;

testing::PrivatePostgres& StorageTest::cluster() {
  static testing::PrivatePostgres shared;
  return shared;
}

void StorageTest::SetUp() {
  ASSERT_FALSE(folder_.path().empty());
  if (GetParam() == Backend::sqlite) {
    location_ = folder_.path() + "/tolvane.db";
  } else {
    if (!testing::PrivatePostgres::serverBinaries()) {
      GTEST_SKIP() << "skipped: PostgreSQL server binaries not installed";
    }
    ASSERT_TRUE(cluster().running()) << cluster().whyNot();
    static int databases = 0;
    database_ = "test_" + std::to_string(++databases);
    location_ = cluster().createDatabase(database_);
    ASSERT_FALSE(location_.empty()) << cluster().whyNot();
  }
  storage_ = openAnother();
  ASSERT_TRUE(storage_);
}

std::unique_ptr<Storage> StorageTest::openAnother() {
  std::string whyNot;
  std::unique_ptr<Storage> storage =
      GetParam() == Backend::sqlite ? openSqliteStorage(location_, whyNot)
                                    : openPostgresStorage(location_, kPostgresConnections, whyNot);
  EXPECT_TRUE(storage) << whyNot;
  return storage;
}

std::int64_t StorageTest::newAccount() {
  const std::string email = "user" + std::to_string(++accounts_) + "@example.com";
  const StoreResult<Account> created = storage_->createAccount(email, "$argon2id$hash", "free");
  EXPECT_TRUE(created.ok()) << created.detail;
  return created.value.id;
}

bool StorageTest::execute(const std::string& sql) {
  if (GetParam() == Backend::postgres) return cluster().execute(sql, database_);
  sqlite3* db = nullptr;
  const bool done = sqlite3_open(location_.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return done;
}

std::vector<std::string> sqliteColumn(const std::string& path, const std::string& sql) {
  std::vector<std::string> values;
  sqlite3* db = nullptr;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW)
      values.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
  } else {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return values;
}

}  // namespace tolvane::server::test
