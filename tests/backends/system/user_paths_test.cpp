// The runtime folder that holds the instance lock and socket: only a folder of our own, closed to
// everyone else, is ever used; anything another user could have placed first is refused.
#include "backends/system/user_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "backends/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

class RuntimeFolderTest : public ::testing::Test {
 protected:
  void folder(const std::string& path, mode_t mode) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);  // past the umask
  }
  std::string fallbackOf(std::uint32_t user) const {
    return temp.path() + "/tolvane-" + std::to_string(user);
  }

  const test::TempDir temp;
  const std::uint32_t uid = static_cast<std::uint32_t>(::getuid());
  const std::string runtime = temp.path() + "/run";
  const std::string fallback = fallbackOf(uid);
  PosixFileSystem disk;
};

TEST_F(RuntimeFolderTest, APrivateXdgRuntimeDirIsUsedAndElseOurOwnFolderOrNone) {
  const std::string notUsable = "XDG_RUNTIME_DIR is not usable: " + runtime + " ";
  const auto refusal = [&](const std::string& at, const std::string& problem) {
    return "cannot keep the instance lock in " + at + ": " + at + " " + problem +
           " (remove it, or set XDG_RUNTIME_DIR to a folder only you can use)";
  };
  // Everything here belongs to us, so to another user every folder belongs to someone else.
  const std::uint32_t other = uid + 1;
  const std::string theirs =
      " belongs to user id " + std::to_string(uid) + ", not " + std::to_string(other);
  struct Row {
    const char* what;
    std::function<void()> place;  // places XDG_RUNTIME_DIR; unset when empty
    std::optional<std::string> chosen;
    std::string message;
    std::uint32_t user;
  };
  const Row rows[] = {
      {"unset", nullptr, fallback, "", uid},
      {"private", [&] { folder(runtime, 0700); }, runtime, "", uid},
      {"open to the group", [&] { folder(runtime, 0750); }, fallback,
       notUsable + "is open to other users (mode 0750); using " + fallback, uid},
      {"a link to a private folder",
       [&] {
         folder(temp.path() + "/elsewhere", 0700);
         ASSERT_EQ(::symlink("elsewhere", runtime.c_str()), 0);
       },
       fallback, notUsable + "is a symbolic link; using " + fallback, uid},
      // The fallback's fixed name, placed first: a link to a folder the attacker controls.
      {"unset, the fallback a link",
       [&] {
         folder(temp.path() + "/trap", 0700);
         ASSERT_EQ(::symlink("trap", fallback.c_str()), 0);
       },
       std::nullopt, refusal(fallback, "is a symbolic link"), uid},
      {"another user's",
       [&] {
         folder(runtime, 0700);
         folder(fallbackOf(other), 0700);
       },
       std::nullopt,
       notUsable.substr(0, notUsable.size() - 1) + theirs + "; " +
           refusal(fallbackOf(other), theirs.substr(1)),
       other},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    for (const auto& made : {runtime, fallback, fallbackOf(other)})
      std::filesystem::remove_all(made);
    std::map<std::string, std::string> env{{"TMPDIR", temp.path()}};
    if (row.place) row.place();
    // The rows named "unset" leave XDG_RUNTIME_DIR unset.
    if (std::filesystem::exists(std::filesystem::symlink_status(runtime)))
      env["XDG_RUNTIME_DIR"] = runtime;
    std::string message;
    const auto lookup = [&](const std::string& name) -> std::optional<std::string> {
      return env.contains(name) ? std::optional(env.at(name)) : std::nullopt;
    };
    EXPECT_EQ(chooseRuntimeFolder(lookup, disk, row.user, message), row.chosen);
    EXPECT_EQ(message, row.message);
    if (row.chosen == fallback) {
      EXPECT_FALSE(privateFolderProblem(disk, fallback, uid));
    }
  }
}

}  // namespace
}  // namespace tolvane::system
