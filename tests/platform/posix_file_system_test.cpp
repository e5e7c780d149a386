// The real file system seam against names someone else may have placed: links, FIFOs, devices,
// folders and files too large to read.
#include "backends/system/posix_file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

class PosixFileSystemTest : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return temp.path() + "/" + name; }
  void write(const std::string& name, const std::string& text) {
    ASSERT_TRUE(disk.writeFileSynced(at(name), text));
  }
  void link(const std::string& name, const std::string& target) {
    ASSERT_EQ(::symlink(target.c_str(), at(name).c_str()), 0);
  }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(temp.path()),
                                                  std::filesystem::directory_iterator()));
  }

  const test::TempDir temp;
  PosixFileSystem disk;
};

TEST_F(PosixFileSystemTest, BoundedReadsTakeOnlyRegularFilesWithinTheCap) {
  constexpr std::size_t kCap = 8;
  struct Row {
    const char* what;
    std::function<void()> place;
    std::optional<std::string> content;
    ReadFailure failure;
  };
  const Row rows[] = {
      {"nothing", [] {}, std::nullopt, ReadFailure::missing},
      {"exactly the cap", [this] { write("f", "12345678"); }, "12345678", {}},
      {"one byte past it", [this] { write("f", "123456789"); }, std::nullopt,
       ReadFailure::tooLarge},
      // Opening a FIFO waits for a writer unless told not to; a device never ends.
      {"a FIFO", [this] { ASSERT_EQ(::mkfifo(at("f").c_str(), 0600), 0); }, std::nullopt,
       ReadFailure::notRegularFile},
      {"a link to /dev/zero", [this] { link("f", "/dev/zero"); }, std::nullopt,
       ReadFailure::notRegularFile},
      {"a folder", [this] { ASSERT_TRUE(disk.createDirectories(at("f"))); }, std::nullopt,
       ReadFailure::notRegularFile},
  };
  for (const auto& row : rows) {
    std::filesystem::remove_all(at("f"));
    row.place();
    const auto read = disk.readRegularFile(at("f"), kCap);
    EXPECT_EQ(read.content, row.content) << row.what;
    if (!row.content) {
      EXPECT_EQ(read.failure, row.failure) << row.what;
    }
  }
}

TEST_F(PosixFileSystemTest,
       AnAtomicWriteReplacesTheFileAtTheEndOfALinkChainThroughAPrivateTemporaryFile) {
  ASSERT_TRUE(disk.createDirectories(at("repo")));
  write("repo/real.json", "old");
  // A relative link resolves against its own folder: "chain" -> "repo/link" -> "real.json".
  link("repo/link", "real.json");
  link("chain", "repo/link");
  ASSERT_TRUE(writeFileAtomically(disk, at("chain"), "new"));
  EXPECT_EQ(disk.readFile(at("repo/real.json")), "new");
  for (const char* name : {"chain", "repo/link"}) {
    EXPECT_EQ(disk.linkFacts(at(name)).value_or(LinkFacts{}).kind, LinkFacts::Kind::symlink)
        << name;
  }
  EXPECT_EQ(entries(), 2u) << "no temporary file is left behind";

  link("loop", "loop");
  EXPECT_FALSE(writeFileAtomically(disk, at("loop"), "never"));
  EXPECT_EQ(entries(), 3u);

  // Temporary files are new, private and apart, so two writers never share one.
  const auto first = disk.writeNewTemporaryFile(at("prefs"), "a");
  const auto second = disk.writeNewTemporaryFile(at("prefs"), "b");
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  EXPECT_EQ(disk.readFile(*second), "b");
  EXPECT_EQ(disk.linkFacts(*first).value_or(LinkFacts{}).permissions, 0600u);
}

}  // namespace
}  // namespace tolvane::system
