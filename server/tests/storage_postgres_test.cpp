// PostgreSQL under an operator's hands: connections cut by the server are answered as
// unavailable once and then reset, without restarting the storage; a role that may only use
// the tables an operator made works on them; a connection string that crosses the network
// unverified is warned about.
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

TEST_P(PostgresConnectionTest, ARoleThatMayNotCreateTablesUsesTheExistingOnes) {
  // Since PostgreSQL 15 only the owner may create in schema public; operators grant the rest.
  const std::string role = "worker_" + database_;
  ASSERT_TRUE(cluster().execute("CREATE ROLE " + role + " LOGIN")) << cluster().whyNot();
  ASSERT_TRUE(
      cluster().execute("GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO " +
                            role + "; GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO " + role,
                        database_))
      << cluster().whyNot();
  std::string whyNot;
  const std::unique_ptr<Storage> worker =
      openPostgresStorage(cluster().url(database_, role), 2, whyNot);
  ASSERT_TRUE(worker) << whyNot;
  EXPECT_TRUE(worker->createAccount("worker@example.com", "h", "free").ok());
  EXPECT_TRUE(storage_->accountByEmail("worker@example.com").ok());
}

TEST(PostgresTransport, IsWarnedAboutForAnotherMachineWithoutVerifiedTls) {
  for (const auto& [url, warned] : std::vector<std::pair<std::string, bool>>{
           {"postgresql://tolvane@db.example.org/tolvane", true},
           {"postgresql://db.example.org/t?sslmode=require", true},
           {"host=localhost,db.example.org dbname=t", true},
           {"hostaddr=192.0.2.1 dbname=t sslmode=verify-ca", true},
           {"postgresql://db.example.org/t?sslmode=verify-full", false},
           {"postgresql://tolvane@localhost/tolvane", false},
           {"postgresql://127.0.0.1:5433/t", false},
           {"postgresql:///t?host=/run/postgresql", false},
           {"dbname=t", false}}) {
    EXPECT_EQ(!postgresTransportWarning(url).empty(), warned) << url;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, PostgresConnectionTest, ::testing::Values(Backend::postgres),
                         backendName);

}  // namespace
}  // namespace tolvane::server::test
