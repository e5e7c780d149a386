// The storage fixture: a fresh SQLite file, or a fresh database in a private PostgreSQL
// cluster started once for the whole test program.
#include "support/storage_fixture.h"

#include <sqlite3.h>

namespace tolvane::server::test {

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
  return sqliteRun(location_, sql);
}

bool sqliteRun(const std::string& path, const std::string& sql, std::vector<std::string>* column) {
  sqlite3* db = nullptr;
  const auto add = [](void* into, int, char** row, char**) {
    if (into) static_cast<std::vector<std::string>*>(into)->emplace_back(row[0] ? row[0] : "");
    return 0;
  };
  const bool done = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), add, column, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return done;
}

}  // namespace tolvane::server::test
