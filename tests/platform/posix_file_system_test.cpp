// The real file system seam against names someone else may have placed: an atomic write through
// a chain of links, a link loop, and private temporary files.
#include "backends/system/posix_file_system.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

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
