// The storage fixture: a fresh SQLite file, or a fresh database in a private PostgreSQL
// cluster started once for the whole test program.
#include "support/storage_fixture.h"

namespace tolvane::server::test {

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::sqlite ? "SQLite" : "PostgreSQL";
}

void StorageTest::SetUp() {
  ASSERT_FALSE(folder_.path().empty());
  location_ = folder_.path() + "/tolvane.db";
  storage_ = openAnother();
  ASSERT_TRUE(storage_);
}

std::unique_ptr<Storage> StorageTest::openAnother() {
  std::string whyNot;
  std::unique_ptr<Storage> storage = openSqliteStorage(location_, whyNot);
  EXPECT_TRUE(storage) << whyNot;
  return storage;
}

std::int64_t StorageTest::newAccount() {
  const std::string email = "user" + std::to_string(++accounts_) + "@example.com";
  const StoreResult<Account> created = storage_->createAccount(email, "$argon2id$hash", "free");
  EXPECT_TRUE(created.ok()) << created.detail;
  return created.value.id;
}

}  // namespace tolvane::server::test
