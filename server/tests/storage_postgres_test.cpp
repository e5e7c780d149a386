// PostgreSQL under an operator's hands: a connection string that crosses the network
// unverified is warned about.
#include "support/storage_fixture.h"

namespace tolvane::server::test {
namespace {

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

}  // namespace
}  // namespace tolvane::server::test
