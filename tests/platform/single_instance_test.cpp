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
#include <filesystem>
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

TEST(SingleInstance, TheSenderReadsTheAnswerItGets) {
  // A listener that is not an instance: it takes the line and answers, closes unanswered, or
  // never answers at all.
  test::TempDir runtime;
  const UniqueFd listener = unixSocket(SingleInstance::socketPath(runtime.path(), ":3"), true);
  ASSERT_EQ(listen(listener.get(), 4), 0);
  const std::pair<const char*, HandOff> rows[] = {
      {"ok\n", HandOff::delivered},        {"busy\n", HandOff::busy},
      {"no\n", HandOff::notAcknowledged},  {"", HandOff::notAcknowledged},
      {nullptr, HandOff::notAcknowledged},
  };
  for (const auto& [answer, outcome] : rows) {
    // Only the silent listener is waited out; an answer is never raced against the bound.
    // A named copy: clang 14 cannot capture a structured binding.
    const double bound = answer ? 60 : 0.05;
    auto sent = std::async(std::launch::async, [&] {
      return SingleInstance::send(runtime.path(), ":3", "tolvane://x", bound);
    });
    UniqueFd client(accept(listener.get(), nullptr, nullptr));
    char line[32];
    EXPECT_GT(recv(client.get(), line, sizeof line, 0), 0);
    if (answer) {
      ::send(client.get(), answer, std::strlen(answer), MSG_NOSIGNAL);
      client.reset();
    }
    EXPECT_EQ(sent.get(), outcome) << (answer ? answer : "silent");
  }
}

class SingleInstanceClients : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(instance) << error; }
  std::string socket() const { return SingleInstance::socketPath(runtime.path(), ":5"); }

  test::TempDir runtime;
  std::string error;
  std::unique_ptr<SingleInstance> instance = SingleInstance::claim(runtime.path(), ":5", error);
};

TEST_F(SingleInstanceClients, ATrickledLineIsAssembledAcrossWakeUpsWithoutWaitingForIt) {
  Client client(socket());
  // One byte every 150 ms, as a client that wants to hold the main thread would send; each
  // call takes what is there and returns.
  const std::string line = "tolvane://auth?code=42\n";
  const double accepted = 100;
  double now = accepted;
  for (std::size_t i = 0; now < accepted + SingleInstance::kClientDeadlineSeconds; ++i) {
    client.write(line.substr(i, 1));
    EXPECT_TRUE(instance->service(now).empty()) << i;
    EXPECT_EQ(instance->descriptors().size(), 2u) << "the client is kept until its deadline";
    now += 0.15;
  }
  // The line is not finished by the deadline: the client is dropped, unheard.
  EXPECT_TRUE(instance->service(now).empty());
  EXPECT_TRUE(client.closedByInstance());
  EXPECT_EQ(instance->nextDeadline(), std::nullopt);

  Client quick(socket());
  quick.write(line.substr(0, 10));
  EXPECT_TRUE(instance->service(now).empty());
  EXPECT_EQ(instance->nextDeadline(), now + SingleInstance::kClientDeadlineSeconds);
  quick.write(line.substr(10));
  EXPECT_EQ(instance->service(now + 1.9), Strings{"tolvane://auth?code=42"});
  EXPECT_TRUE(quick.closedByInstance());
  EXPECT_EQ(instance->descriptors().size(), 1u);
}

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

TEST_F(SingleInstanceClients, ANinthClientIsToldBusyAtOnceAndAFreedPlaceIsTakenAgain) {
  std::vector<std::unique_ptr<Client>> slow;
  for (std::size_t i = 0; i < SingleInstance::kMaxClients; ++i) {
    slow.push_back(std::make_unique<Client>(socket()));
    slow.back()->write("tolvane://slow");
  }
  Client ninth(socket());
  ninth.write("tolvane://ninth");
  Client whole(socket());
  whole.write("tolvane://whole\n");
  // A line that is all there is taken without a place; one still arriving is turned away.
  EXPECT_EQ(instance->service(0), Strings{"tolvane://whole"});
  EXPECT_EQ(whole.answer(), "ok\n");
  EXPECT_EQ(ninth.answer(), "busy\n");
  EXPECT_TRUE(ninth.closedByInstance());
  EXPECT_EQ(instance->descriptors().size(), 1 + SingleInstance::kMaxClients);
  for (const auto& client : slow) EXPECT_FALSE(client->closedByInstance());

  slow.front()->write("\n");
  EXPECT_EQ(instance->service(1), Strings{"tolvane://slow"});
  Client next(socket());
  next.write("tolvane://next\n");
  EXPECT_EQ(instance->service(1), Strings{"tolvane://next"});
}

TEST(SingleInstance, AnUnusableFolderSaysWhy) {
  std::string error;
  EXPECT_FALSE(SingleInstance::claim("/nonexistent/run", ":0", error));
  EXPECT_NE(error.find("/nonexistent/run/tolvane-_0.lock"), std::string::npos) << error;

  // A link at the lock's name is never opened through.
  test::TempDir runtime;
  const std::string lock = runtime.path() + "/tolvane-_0.lock";
  ASSERT_EQ(symlink("elsewhere", lock.c_str()), 0);
  EXPECT_FALSE(SingleInstance::claim(runtime.path(), ":0", error));
  EXPECT_NE(error.find(lock), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(runtime.path() + "/elsewhere"));
}

}  // namespace
}  // namespace tolvane::system
