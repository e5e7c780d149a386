// One instance per user and display: the second claim fails, a URL reaches the first and is
// acknowledged, and a killed instance's leftovers do not block the next one.
#include "backends/system/single_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <string_view>

#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using HandOff = SingleInstance::HandOff;
using Strings = std::vector<std::string>;

// A Unix stream socket bound (when `bind`) or connected to `path`; a temporary folder's path
// always fits.
UniqueFd unixSocket(const std::string& path, bool bind) {
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{.sun_family = AF_UNIX};
  std::strcpy(address.sun_path, path.c_str());
  const auto* at = reinterpret_cast<const sockaddr*>(&address);
  if ((bind ? ::bind(fd.get(), at, sizeof address) : connect(fd.get(), at, sizeof address)) != 0) {
    fd.reset();
  }
  return fd;
}

// A client of the instance socket, driven byte by byte from the test.
class Client {
 public:
  explicit Client(const std::string& path) : fd_(unixSocket(path, false)) {}
  void write(std::string_view bytes) {
    ASSERT_EQ(::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void finishSending() { shutdown(fd_.get(), SHUT_WR); }
  /// What the instance has answered so far.
  std::string answer() const {
    char bytes[16];
    const ssize_t n = recv(fd_.get(), bytes, sizeof bytes, MSG_DONTWAIT | MSG_PEEK);
    return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
  }
  /// True once the instance has closed its side (a reset when it left bytes unread), past any
  /// answer it gave.
  bool closedByInstance() const {
    char bytes[16];
    ssize_t n = 0;
    while ((n = recv(fd_.get(), bytes, sizeof bytes, MSG_DONTWAIT)) > 0) continue;  // its answer
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }

 private:
  UniqueFd fd_;
};

// One send from a thread of its own, as another process would make it, served as the main loop
// serves `instance`, woken by its descriptors; its outcome and the messages taken.
std::pair<HandOff, Strings> sendServed(SingleInstance& instance, const std::string& runtime,
                                       const std::string& display, const std::string& message) {
  auto sent = std::async(std::launch::async,
                         [=] { return SingleInstance::send(runtime, display, message); });
  Strings taken;
  while (sent.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    std::vector<pollfd> watched;
    for (int fd : instance.descriptors()) watched.push_back({.fd = fd, .events = POLLIN});
    ::poll(watched.data(), watched.size(), 20);
    for (auto& taking : instance.service(0)) taken.push_back(std::move(taking));
  }
  return {sent.get(), std::move(taken)};
}

TEST(SingleInstance, OnePerDisplayUrlsReachTheFirstAndLeftoversDoNotBlock) {
  test::TempDir runtime;
  const auto path = SingleInstance::socketPath(runtime.path(), "host:0.0");
  EXPECT_EQ(path, runtime.path() + "/tolvane-host_0.0.sock");
  // A socket file nobody listens on, as a killed instance leaves it.
  ASSERT_TRUE(unixSocket(path, true).valid());
  std::string error;
  auto first = SingleInstance::claim(runtime.path(), "host:0.0", error);
  ASSERT_TRUE(first) << error;
  EXPECT_FALSE(SingleInstance::claim(runtime.path(), "host:0.0", error));
  EXPECT_TRUE(error.empty()) << "another instance is not an error: " << error;
  // Another display is another instance.
  EXPECT_TRUE(SingleInstance::claim(runtime.path(), ":8", error));

  for (const std::string url : {"tolvane://settings", "tolvane://auth?code=1"}) {
    EXPECT_EQ(sendServed(*first, runtime.path(), "host:0.0", url),
              std::make_pair(HandOff::delivered, Strings{url}));
  }
  EXPECT_TRUE(first->service(0).empty());

  first.reset();
  EXPECT_EQ(SingleInstance::send(runtime.path(), "host:0.0", "tolvane://x"), HandOff::noInstance);
  EXPECT_TRUE(SingleInstance::claim(runtime.path(), "host:0.0", error)) << error;
}

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
      {"tolvane://first\nsecond\n", {"tolvane://first"}, "ok\n"},
      {longest + "\n", {longest}, "ok\n"},
      // Empty or with control characters: turned down; past the cap or gone before its line
      // feed: closed, which the sender takes for no acknowledgement.
      {"\n", {}, "no\n"},
      {"tolvane://a\tb\n", {}, "no\n"},
      {longest + "a\n", {}, ""},
      {"tolvane://unfinished", {}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.sent.substr(0, 20));
    Client client(socket());
    client.write(row.sent);
    client.finishSending();
    EXPECT_EQ(instance->service(0), row.delivered);
    EXPECT_EQ(client.answer(), row.answer);
    EXPECT_TRUE(client.closedByInstance());
  }
}

}  // namespace
}  // namespace tolvane::system
