// The secrets file: private modes, round trips across instances, and files refused or set aside.
#include "backends/system/file_secret_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "backends/system/posix_file_system.h"
#include "backends/system/secret_values.h"
#include "support/secret_store_contract.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

class FileSecretStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<FileSecretStore> open(std::uint32_t uid = ::getuid()) {
    return std::make_unique<FileSecretStore>(
        disk, path, uid, [this](const std::string& line) { diagnostics.push_back(line); });
  }
  void writeFile(const std::string& text, mode_t mode = 0600) {
    ASSERT_TRUE(disk.createDirectories(dir));
    ASSERT_TRUE(disk.writeFileSynced(path, text));
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  }
  static unsigned modeOf(const std::string& at) {
    struct stat st {};
    return ::lstat(at.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  const test::TempDir temp;
  const std::string dir = temp.path() + "/data/com.brenmoor.tolvane";
  const std::string path = dir + "/secrets.json";
  PosixFileSystem disk;
  std::vector<std::string> diagnostics;
};

TEST_F(FileSecretStoreTest, ValuesSurviveANewInstanceInAPrivateFolderAndFile) {
  // A permissive umask must not widen what the store creates.
  const mode_t previous = ::umask(0);
  test::writeContractSecrets(*open());
  ::umask(previous);
  EXPECT_EQ(modeOf(dir), 0700u);
  EXPECT_EQ(modeOf(path), 0600u);
  test::expectContractSecrets(*open());
  EXPECT_TRUE(diagnostics.empty()) << diagnostics.front();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temporaries
}

TEST_F(FileSecretStoreTest, AFileOthersCouldTouchIsLeftAloneAndOneThatIsNoObjectIsSetAside) {
  struct Row {
    const char* name;
    std::string text;
    std::function<void()> arrange;  // after the file is written 0600
    std::uint32_t uid = ::getuid();
  };
  const std::string leaked = "{\"cloudToken\": \"leaked\"}";
  const Row refused[] = {
      {"readable by others", leaked, [&] { ::chmod(path.c_str(), 0604); }},
      {"owned by another user", leaked, [] {}, ::getuid() + 1},
      {"a link to a private file", leaked,
       [&] {
         ASSERT_EQ(::rename(path.c_str(), (temp.path() + "/elsewhere").c_str()), 0);
         ASSERT_EQ(::symlink((temp.path() + "/elsewhere").c_str(), path.c_str()), 0);
       }},
      {"in a folder others may write to", leaked, [&] { ::chmod(dir.c_str(), 0777); }},
      // Set aside rather than refused, below: what the file holds cannot be kept.
      {"torn while written", "{\"cloudToken\": \"ab", [] {}},
      {"too large", "{\"cloudToken\": \"" + std::string(kMaxSecretFileBytes, 'x') + "\"}", [] {}},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.name);
    const bool setAside = row.text != leaked;
    std::filesystem::remove_all(temp.path() + "/data");
    std::filesystem::remove(temp.path() + "/elsewhere");
    diagnostics.clear();
    writeFile(row.text);
    row.arrange();
    auto store = open(row.uid);
    EXPECT_EQ(store->get("cloudToken"), std::nullopt);
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_TRUE(diagnostics[0].starts_with(setAside ? "secrets file corrupt reason="
                                                    : "secrets file refused reason="))
        << diagnostics[0];
    store->set("cloudToken", "new");
    EXPECT_EQ(store->get("cloudToken"), "new");  // kept in memory for this run
    EXPECT_EQ(store->persists(), setAside);
    EXPECT_EQ(disk.readFile(setAside ? path + ".corrupt" : path), row.text);
    if (setAside) {
      EXPECT_EQ(open()->get("cloudToken"), "new");
    }
  }
}

}  // namespace
}  // namespace tolvane::system
