// The databases under an operator's hands: a SQLite file not ours at all, corrupt, or created
// private to its owner, and a PostgreSQL connection string that crosses the network unverified.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/storage_fixture.h"

namespace tolvane::server::test {
namespace {

namespace fs = std::filesystem;

using SqliteFileTest = StorageTest;

std::string contentOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST_P(SqliteFileTest, AFileThatIsNotOursIsRefusedUntouchedWithTheReason) {
  // Closed, our database is all in its file: its header can be edited as bytes.
  storage_.reset();
  const std::string ours = contentOf(location_);
  const auto patched = [&](std::size_t offset, std::string_view bytes) {
    return ours.substr(0, offset) + std::string(bytes) + ours.substr(offset + bytes.size());
  };
  // The file's bytes, and the reason it is refused.
  const std::pair<std::string, std::string> cases[] = {
      {std::string("SQLite format 3\0", 16) + std::string(4080, '\x7f'),
       " is not a tolvane-server database"},
      // The header's application id (offset 68), in a file in rollback-journal mode (offsets 18
      // and 19), which must not be switched to a write-ahead log before refusal.
      {patched(18, "\1\1").substr(0, 68) + "ABCD" + ours.substr(72),
       " is not a tolvane-server database"},
      // The schema version (offset 60).
      {patched(60, std::string_view("\0\0\0\3", 4)),
       " was written by a newer tolvane-server (schema 3"},
  };
  for (const auto& [content, why] : cases) {
    const std::string path = folder_.path() + "/other.db";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    std::string whyNot;
    EXPECT_FALSE(openSqliteStorage(path, whyNot));
    EXPECT_NE(whyNot.find(path + why), std::string::npos) << whyNot;
    EXPECT_TRUE(contentOf(path) == content) << "the refused file was changed";
  }
}

TEST_P(SqliteFileTest, ACorruptFileAnswersUnavailableUntilReplaced) {
  const std::int64_t account = newAccount();
  ASSERT_TRUE(storage_->commitSync(account, 0, "v1", "d", 1).ok());
  storage_.reset();
  const std::string backup = folder_.path() + "/backup.db";
  fs::copy_file(location_, backup);
  // Every page after the first (the schema) overwritten: the file opens, its tables do not read.
  std::string corrupt = contentOf(location_);
  std::fill(corrupt.begin() + 4096, corrupt.end(), '\xa5');
  std::ofstream(location_, std::ios::binary | std::ios::trunc) << corrupt;
  storage_ = openAnother();
  ASSERT_TRUE(storage_);

  const StoreResult<Account> broken = storage_->accountByEmail("user1@example.com");
  EXPECT_EQ(broken.status, StoreStatus::unavailable);
  EXPECT_NE(broken.detail.find("malformed"), std::string::npos) << broken.detail;
  EXPECT_EQ(storage_->commitSync(account, 1, "v2", "d", 2).status, StoreStatus::unavailable);

  fs::rename(backup, location_);
  EXPECT_TRUE(storage_->accountByEmail("user1@example.com").ok());
  EXPECT_TRUE(storage_->commitSync(account, 1, "v2", "d", 2).ok());
}

TEST_P(SqliteFileTest, ANewDatabaseAndItsLogsAreTheOwnersAloneWhateverTheUmask) {
  const mode_t saved = ::umask(022);
  const std::string path = folder_.path() + "/private.db";
  std::string whyNot;
  std::unique_ptr<Storage> storage = openSqliteStorage(path, whyNot);
  ASSERT_TRUE(storage) << whyNot;
  EXPECT_TRUE(storage->createAccount("a@example.com", "h", "free").ok());
  ::umask(saved);
  for (const char* suffix : {"", "-wal", "-shm"}) {
    struct stat info {};
    ASSERT_EQ(::stat((path + suffix).c_str(), &info), 0) << suffix;
    EXPECT_EQ(info.st_mode & 0777, 0600u) << suffix;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, SqliteFileTest, ::testing::Values(Backend::sqlite),
                         ::testing::PrintToStringParamName());

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
