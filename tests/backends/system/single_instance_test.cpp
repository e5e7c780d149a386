// What the instance takes from the clients of its socket: one checked line each at most, and an
// answer to the sender.
#include "backends/system/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using Strings = std::vector<std::string>;

// A client of the instance socket, driven byte by byte from the test.
class Client {
 public:
  // A temporary folder's path always fits.
  explicit Client(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{.sun_family = AF_UNIX};
    std::strcpy(address.sun_path, path.c_str());
    EXPECT_EQ(connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  /// Sends `bytes`, and nothing after them.
  void sendAll(std::string_view bytes) {
    ASSERT_EQ(::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    shutdown(fd_.get(), SHUT_WR);
  }
  /// What the instance answered, and "|closed" once it has closed its side (a reset when it
  /// left bytes unread).
  std::string answer() const {
    std::string answer;
    char bytes[16];
    ssize_t n = 0;
    while ((n = recv(fd_.get(), bytes, sizeof bytes, MSG_DONTWAIT)) > 0) {
      answer.append(bytes, static_cast<std::size_t>(n));
    }
    const bool closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    return answer + (closed ? "|closed" : "|open");
  }

 private:
  UniqueFd fd_;
};

class SingleInstanceClients : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(instance) << error; }
  std::string socket() const { return SingleInstance::socketPath(runtime.path(), ":5"); }

  test::TempDir runtime;
  std::string error;
  std::unique_ptr<SingleInstance> instance = SingleInstance::claim(runtime.path(), ":5", error);
};

TEST_F(SingleInstanceClients, WhatEachClientSendsGivesOneCheckedLineAtMost) {
  struct Row {
    std::string sent;
    Strings delivered;
    std::string answer;
  };
  const std::string longest(SingleInstance::kMaxMessageBytes - 1, 'a');
  const Row rows[] = {
      {"tolvane://first\nsecond\n", {"tolvane://first"}, "ok\n|closed"},
      {longest + "\n", {longest}, "ok\n|closed"},
      // Empty or with control characters: turned down; past the cap or gone before its line
      // feed: closed, which the sender takes for no acknowledgement.
      {"\n", {}, "no\n|closed"},
      {"tolvane://a\tb\n", {}, "no\n|closed"},
      {longest + "a\n", {}, "|closed"},
      {"tolvane://unfinished", {}, "|closed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.sent.substr(0, 20));
    Client client(socket());
    client.sendAll(row.sent);
    EXPECT_EQ(instance->service(0), row.delivered);
    EXPECT_EQ(client.answer(), row.answer);
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
  struct Row {
    std::string display, runtimeDir;
    bool same;
  };
  const Row rows[] = {
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
  for (const auto& row : rows) {
    SCOPED_TRACE(row.display + " in " + row.runtimeDir);
    const std::string identity = waylandDisplayIdentity(row.display, row.runtimeDir);
    EXPECT_EQ(SingleInstance::claim(run, identity, error) == nullptr, row.same);
    // The instance answers only when serviced, after this: reaching it is enough.
    EXPECT_EQ(SingleInstance::send(run, identity, "trigger next", 0) !=
                  SingleInstance::HandOff::noInstance,
              row.same);
    instance->service(0);
  }
}

}  // namespace
}  // namespace tolvane::system
