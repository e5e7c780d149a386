// PostgreSQL under an operator's hands: connections cut by the server are answered as
// unavailable once and then reset, without restarting the storage; a connection string that
// crosses the network unverified is warned about.
#include "support/storage_fixture.h"

namespace tolvane::server::test {
namespace {

using PostgresConnectionTest = StorageTest;

TEST_P(PostgresConnectionTest, ACutConnectionAnswersUnavailableAndIsResetOnNextUse) {
  const std::int64_t account = newAccount();
  ASSERT_TRUE(storage_->commitSync(account, 0, "before", "d", 1).ok());
  // Waits until every backend of this database has gone, as after a server restart.
  ASSERT_TRUE(cluster().execute(
      "SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity WHERE datname = '" +
      database_ + "'"))
      << cluster().whyNot();

  const StoreResult<SyncRecord> cut = storage_->syncRecord(account);
  EXPECT_EQ(cut.status, StoreStatus::unavailable);
  EXPECT_NE(cut.detail.find("PostgreSQL"), std::string::npos) << cut.detail;
  const StoreResult<SyncRecord> reset = storage_->syncRecord(account);
  ASSERT_TRUE(reset.ok()) << reset.detail;
  EXPECT_EQ(reset.value.blob, "before");
  EXPECT_TRUE(storage_->commitSync(account, 1, "after", "d", 2).ok());
}

TEST(PostgresTransport, IsWarnedAboutForAnotherMachineWithoutVerifiedTls) {
  for (const auto& [url, warned] : std::vector<std::pair<std::string, bool>>{
           {"postgresql://tolvane@db.example.org/tolvane", true},
           {"postgresql://db.example.org/t?sslmode=require", true},
           {"host=localhost,db.example.org dbname=t", true},
           {"postgresql://db.example.org/t?sslmode=verify-full", false},
           {"postgresql://tolvane@localhost/tolvane", false},
           {"postgresql:///t?host=/run/postgresql", false},
           {"dbname=t", false}}) {
    EXPECT_EQ(!postgresTransportWarning(url).empty(), warned) << url;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, PostgresConnectionTest, ::testing::Values(Backend::postgres),
                         backendName);

}  // namespace
}  // namespace tolvane::server::test
