// The secrets file: private modes, round trips across instances, files refused or set aside,
// values refused, and a save that fails.
#include "backends/system/file_secret_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backends/sim/faulty_file_system.h"
#include "backends/system/posix_file_system.h"
#include "backends/system/secret_values.h"
#include "support/secret_store_contract.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using Strings = std::vector<std::string>;

class FileSecretStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<FileSecretStore> open(std::uint32_t uid = ::getuid()) {
    return std::make_unique<FileSecretStore>(
        files, path, uid, [this](const std::string& line) { diagnostics.push_back(line); });
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
  std::string fileText() const { return disk.readFile(path).value_or("<none>"); }
  bool diagnosed(const std::string& part) const {
    for (const auto& line : diagnostics) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }

  const test::TempDir temp;
  const std::string dir = temp.path() + "/data/com.brenmoor.tolvane";
  const std::string path = dir + "/secrets.json";
  PosixFileSystem disk;
  sim::FaultyFileSystem files{disk};
  Strings diagnostics;
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

TEST_F(FileSecretStoreTest, AFileOthersCouldReadOrPlaceIsNeverReadNorOverwritten) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    std::uint32_t uid;
  };
  const std::string text = "{\"cloudToken\": \"leaked\"}";
  const Row rows[] = {
      {"readable by others", [&] { writeFile(text, 0604); }, ::getuid()},
      {"readable by the group", [&] { writeFile(text, 0640); }, ::getuid()},
      {"owned by another user", [&] { writeFile(text); }, ::getuid() + 1},
      {"a link to a private file",
       [&] {
         writeFile(text);
         ASSERT_EQ(::rename(path.c_str(), (temp.path() + "/elsewhere").c_str()), 0);
         ASSERT_EQ(::symlink((temp.path() + "/elsewhere").c_str(), path.c_str()), 0);
       },
       ::getuid()},
      {"in a folder others may write to",
       [&] {
         writeFile(text);
         ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
       },
       ::getuid()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(temp.path() + "/data");
    std::filesystem::remove(temp.path() + "/elsewhere");
    diagnostics.clear();
    row.arrange();
    auto store = open(row.uid);
    EXPECT_EQ(store->get("cloudToken"), std::nullopt);
    store->set("cloudToken", "new");
    EXPECT_EQ(store->get("cloudToken"), "new");  // kept in memory for this run
    EXPECT_FALSE(store->persists());
    EXPECT_EQ(fileText(), text);
    EXPECT_EQ(diagnostics.size(), 1u);
    EXPECT_TRUE(diagnosed("secrets file refused reason=")) << diagnostics.front();
  }
}

TEST_F(FileSecretStoreTest, AFileThatIsNotOneObjectOfTextIsSetAsideAndTheStoreStartsEmpty) {
  struct Row {
    const char* name;
    std::string text;
  };
  const Row rows[] = {
      {"torn while written", "{\"cloudToken\": \"ab"},
      {"garbage", std::string("\x00\xff\x13garbage", 10)},
      {"another JSON type", "[\"cloudToken\", \"value\"]"},
      {"not UTF-8", "{\"cloudToken\": \"\xff\"}"},
      {"too large", "{\"cloudToken\": \"" + std::string(kMaxSecretFileBytes, 'x') + "\"}"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    diagnostics.clear();
    writeFile(row.text);
    auto store = open();
    EXPECT_EQ(store->get("cloudToken"), std::nullopt);
    EXPECT_TRUE(diagnosed("secrets file corrupt reason=")) << diagnostics.front();
    EXPECT_EQ(disk.readFile(path + ".corrupt"), row.text);
    store->set("cloudEmail", "a@example.com");
    EXPECT_EQ(open()->get("cloudEmail"), "a@example.com");
  }
}

TEST_F(FileSecretStoreTest, MembersThatAreNotTextAreDroppedAndTheRestKept) {
  writeFile(R"({"cloudToken": "t", "cloudTier": 3, "": "empty account", "cloudEmail": null})");
  auto store = open();
  EXPECT_EQ(store->get("cloudToken"), "t");
  EXPECT_EQ(store->get("cloudTier"), std::nullopt);
  EXPECT_EQ(store->get(""), std::nullopt);
  EXPECT_EQ(diagnostics, Strings{"secrets file members dropped count=3 path=" + path});
}

TEST_F(FileSecretStoreTest, AccountsAndValuesPastTheLimitsAreRefused) {
  struct Row {
    std::string account;
    std::string value;
    bool stored;
  };
  const Row rows[] = {
      {"cloudToken", std::string(kMaxSecretValueBytes, 'v'), true},
      {"cloudToken", std::string(kMaxSecretValueBytes + 1, 'v'), false},
      {"cloudToken", "\xc3\x28", false},      // a broken two-byte sequence
      {"cloudToken", "\xed\xa0\x80", false},  // a UTF-16 surrogate
      {std::string(kMaxSecretAccountBytes, 'a'), "v", true},
      {std::string(kMaxSecretAccountBytes + 1, 'a'), "v", false},
      {"", "v", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.account.substr(0, 12) + " " + std::to_string(row.value.size()));
    std::filesystem::remove_all(temp.path() + "/data");
    diagnostics.clear();
    open()->set(row.account, row.value);
    EXPECT_EQ(open()->get(row.account), row.stored ? std::optional(row.value) : std::nullopt);
    EXPECT_EQ(diagnosed("secret refused account="), !row.stored);
  }
}

TEST_F(FileSecretStoreTest, AFailedSaveKeepsMemoryAndTheNextSaveWritesEverything) {
  auto store = open();
  files.failWrites = true;
  store->set("cloudToken", "t");
  EXPECT_TRUE(diagnosed("secrets save failed path=" + path));
  EXPECT_EQ(store->get("cloudToken"), "t");
  files.failWrites = false;
  store->set("cloudEmail", "e");
  auto reopened = open();
  EXPECT_EQ(reopened->get("cloudToken"), "t");
  EXPECT_EQ(reopened->get("cloudEmail"), "e");
}

}  // namespace
}  // namespace tolvane::system
