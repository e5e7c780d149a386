// The runtime folder that holds the instance lock and socket: only a folder of our own, closed to
// everyone else, is ever used; anything another user could have placed first is refused.
#include "backends/system/user_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "backends/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

class RuntimeFolderTest : public ::testing::Test {
 protected:
  std::optional<std::string> choose(std::uint32_t uid) {
    const auto lookup = [this](const std::string& name) -> std::optional<std::string> {
      return env.contains(name) ? std::optional(env.at(name)) : std::nullopt;
    };
    return chooseRuntimeFolder(lookup, disk, uid, message);
  }
  void folder(const std::string& path, mode_t mode) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);  // past the umask
  }

  const test::TempDir temp;
  const std::uint32_t uid = static_cast<std::uint32_t>(::getuid());
  const std::string runtime = temp.path() + "/run";
  const std::string fallback = temp.path() + "/tolvane-" + std::to_string(uid);
  std::map<std::string, std::string> env{{"TMPDIR", temp.path()}};
  PosixFileSystem disk;
  std::string message;
};

TEST_F(RuntimeFolderTest, APrivateXdgRuntimeDirIsUsedAndAnythingElseFallsBackToOurOwnFolder) {
  struct Row {
    const char* what;
    std::function<void()> place;  // places XDG_RUNTIME_DIR; unset when empty
    bool used;
    std::string problem;
  };
  const Row rows[] = {
      {"unset", nullptr, false, ""},
      {"private", [&] { folder(runtime, 0700); }, true, ""},
      {"open to others", [&] { folder(runtime, 0755); }, false,
       "is open to other users (mode 0755)"},
      {"a link to a private folder",
       [&] {
         folder(temp.path() + "/elsewhere", 0700);
         ASSERT_EQ(::symlink("elsewhere", runtime.c_str()), 0);
       },
       false, "is a symbolic link"},
      {"a file", [&] { ASSERT_TRUE(disk.writeFileSynced(runtime, "")); }, false, "is not a folder"},
  };
  for (const auto& row : rows) {
    std::filesystem::remove_all(runtime);
    std::filesystem::remove_all(fallback);
    env.erase("XDG_RUNTIME_DIR");
    if (row.place) {
      env["XDG_RUNTIME_DIR"] = runtime;
      row.place();
    }
    EXPECT_EQ(choose(uid), row.used ? runtime : fallback) << row.what;
    if (row.problem.empty()) {
      EXPECT_EQ(message, "") << row.what;
    } else {
      EXPECT_EQ(message, "XDG_RUNTIME_DIR is not usable: " + runtime + " " + row.problem +
                             "; using " + fallback)
          << row.what;
    }
    if (!row.used) {
      EXPECT_FALSE(privateFolderProblem(disk, fallback, uid)) << row.what;
    }
  }
}

TEST_F(RuntimeFolderTest, AFallbackNameSomeoneElseCouldHavePlacedIsRefused) {
  const auto refusal = [&](const std::string& problem) {
    return "cannot keep the instance lock in " + fallback + ": " + fallback + " " + problem +
           " (remove it, or set XDG_RUNTIME_DIR to a folder only you can use)";
  };
  // A link to a folder the attacker controls, and a folder anyone may write into.
  folder(temp.path() + "/trap", 0700);
  ASSERT_EQ(::symlink("trap", fallback.c_str()), 0);
  EXPECT_EQ(choose(uid), std::nullopt);
  EXPECT_EQ(message, refusal("is a symbolic link"));

  ASSERT_EQ(::unlink(fallback.c_str()), 0);
  folder(fallback, 0777);
  EXPECT_EQ(choose(uid), std::nullopt);
  EXPECT_EQ(message, refusal("is open to other users (mode 0777)"));

  // Everything here belongs to us, so to another user both folders belong to someone else.
  ASSERT_EQ(::chmod(fallback.c_str(), 0700), 0);
  folder(runtime, 0700);
  env["XDG_RUNTIME_DIR"] = runtime;
  const std::uint32_t other = uid + 1;
  const std::string otherFallback = temp.path() + "/tolvane-" + std::to_string(other);
  EXPECT_EQ(choose(other), std::nullopt);
  EXPECT_NE(message.find(runtime + " belongs to user id " + std::to_string(uid)), std::string::npos)
      << message;
  EXPECT_NE(message.find(otherFallback + " belongs to user id " + std::to_string(uid)),
            std::string::npos)
      << message;
}

}  // namespace
}  // namespace tolvane::system
