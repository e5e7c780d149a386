// The single instance: the runtime folder that holds its lock and socket, which is only ever a
// folder of our own, closed to everyone else; what it takes from the clients of its socket (one
// checked line each at most, and an answer to the sender); and the display it belongs to.
#include "backends/system/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <tuple>

#include "backends/system/posix_file_system.h"
#include "backends/system/user_paths.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using Strings = std::vector<std::string>;

// Anything another user could have placed first is refused.
TEST(RuntimeFolder, APrivateXdgRuntimeDirIsUsedAndElseOurOwnFolderOrNone) {
  const test::TempDir temp;
  PosixFileSystem disk;
  // Everything here belongs to us, so to another user every folder belongs to someone else.
  const auto uid = static_cast<std::uint32_t>(::getuid()), other = uid + 1;
  const auto fallbackOf = [&](std::uint32_t user) {
    return temp.path() + "/tolvane-" + std::to_string(user);
  };
  const std::string runtime = temp.path() + "/run", fallback = fallbackOf(uid);
  const auto folder = [](const std::string& path, mode_t mode) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);  // past the umask
  };
  const std::string notUsable = "XDG_RUNTIME_DIR is not usable: " + runtime + " ";
  const auto refusal = [&](const std::string& at, const std::string& problem) {
    return "cannot keep the instance lock in " + at + ": " + at + " " + problem +
           " (remove it, or set XDG_RUNTIME_DIR to a folder only you can use)";
  };
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
  const auto lookup = [&](const std::string& name) -> std::optional<std::string> {
    if (name == "TMPDIR") return temp.path();
    // The rows named "unset" place no XDG_RUNTIME_DIR.
    const bool placed = std::filesystem::exists(std::filesystem::symlink_status(runtime));
    return name == "XDG_RUNTIME_DIR" && placed ? std::optional(runtime) : std::nullopt;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    for (const auto& made : {runtime, fallback, fallbackOf(other)})
      std::filesystem::remove_all(made);
    if (row.place) row.place();
    std::string message;
    EXPECT_EQ(chooseRuntimeFolder(lookup, disk, row.user, message), row.chosen);
    EXPECT_EQ(message, row.message);
    if (row.chosen == fallback) {
      EXPECT_FALSE(privateFolderProblem(disk, fallback, uid));
    }
  }
}

// A client of the instance socket at `path` that has sent `bytes`, and nothing after them.
UniqueFd sentBy(const std::string& path, std::string_view bytes) {
  UniqueFd client(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{.sun_family = AF_UNIX};
  std::strcpy(address.sun_path, path.c_str());  // a temporary folder's path always fits
  EXPECT_EQ(connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::send(client.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
  shutdown(client.get(), SHUT_WR);
  return client;
}

// What the instance answered `client`, and "|closed" once it has closed its side (a reset when
// it left bytes unread).
std::string answerTo(const UniqueFd& client) {
  std::string answer;
  char bytes[16];
  ssize_t n = 0;
  while ((n = recv(client.get(), bytes, sizeof bytes, MSG_DONTWAIT)) > 0) {
    answer.append(bytes, static_cast<std::size_t>(n));
  }
  const bool closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  return answer + (closed ? "|closed" : "|open");
}

TEST(SingleInstanceClients, WhatEachClientSendsGivesOneCheckedLineAtMost) {
  test::TempDir runtime;
  std::string error;
  const auto instance = SingleInstance::claim(runtime.path(), ":5", error);
  ASSERT_TRUE(instance) << error;
  const std::string longest(SingleInstance::kMaxMessageBytes - 1, 'a');
  const std::tuple<std::string, Strings, std::string> rows[] = {
      {"tolvane://first\nsecond\n", {"tolvane://first"}, "ok\n|closed"},
      {longest + "\n", {longest}, "ok\n|closed"},
      // Empty or with control characters: turned down; past the cap or gone before its line
      // feed: closed, which the sender takes for no acknowledgement.
      {"\n", {}, "no\n|closed"},
      {"tolvane://a\tb\n", {}, "no\n|closed"},
      {longest + "a\n", {}, "|closed"},
      {"tolvane://unfinished", {}, "|closed"},
  };
  for (const auto& [sent, delivered, answer] : rows) {
    SCOPED_TRACE(sent.substr(0, 20));
    const UniqueFd client = sentBy(SingleInstance::socketPath(runtime.path(), ":5"), sent);
    EXPECT_EQ(instance->service(0), delivered);
    EXPECT_EQ(answerTo(client), answer);
  }
}

// One display however WAYLAND_DISPLAY spells it: the lock and the socket of an instance started
// with one spelling are those a later start or a trigger with another one finds.
TEST(SingleInstanceDisplay, EverySpellingOfOneSocketMeetsOneInstance) {
  test::TempDir folder;
  const std::string run = folder.path() + "/run", other = folder.path() + "/other";
  std::filesystem::create_directories(run + "/sub");
  std::filesystem::create_directories(other);
  std::filesystem::create_directory_symlink(run, folder.path() + "/link");
  // A spelling of the display, the runtime folder it is read in, and whether it is the instance's.
  const std::tuple<std::string, std::string, bool> rows[] = {
      {"wayland-1", run, true},
      {run + "/wayland-1", "", true},
      {run + "//wayland-1/", run, true},
      {run + "/sub/../wayland-1", other, true},
      {folder.path() + "/link/wayland-1", run, true},
      {"wayland-1", run + "/", true},
      // Another runtime folder's display of that name is another display.
      {"wayland-1", other, false},
      {other + "/wayland-1", run, false},
      {"wayland-2", run, false},
  };
  std::string error;
  const auto instance =
      SingleInstance::claim(run, waylandDisplayIdentity(run + "/wayland-1", run), error);
  ASSERT_TRUE(instance) << error;
  for (const auto& [display, runtimeDir, same] : rows) {
    SCOPED_TRACE(display + " in " + runtimeDir);
    const std::string identity = waylandDisplayIdentity(display, runtimeDir);
    EXPECT_EQ(SingleInstance::claim(run, identity, error) == nullptr, same);
    // The instance answers only when serviced, after this: reaching it is enough.
    EXPECT_EQ(SingleInstance::send(run, identity, "trigger next", 0) !=
                  SingleInstance::HandOff::noInstance,
              same);
    instance->service(0);
  }
}

}  // namespace
}  // namespace tolvane::system
