// One instance per user and display: the second claim fails, a URL reaches the first and is
// acknowledged, and a killed instance's leftovers do not block the next one.
#include "backends/system/single_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string_view>

#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

// The instance socket's address; a temporary folder's path always fits.
sockaddr_un addressOf(const std::string& path) {
  sockaddr_un address{.sun_family = AF_UNIX};
  std::strcpy(address.sun_path, path.c_str());
  return address;
}

// A client of the instance socket, driven byte by byte from the test.
class Client {
 public:
  explicit Client(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const auto address = addressOf(path);
    connected_ =
        connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  bool connected() const { return connected_; }
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
  bool connected_ = false;
};

using HandOff = SingleInstance::HandOff;
using Sends = std::vector<std::future<HandOff>>;

// A sender on a thread of its own, as another process would be.
std::future<HandOff> sendAway(const std::string& runtime, const std::string& display,
                              const std::string& message) {
  return std::async(std::launch::async,
                    [=] { return SingleInstance::send(runtime, display, message); });
}

// Serves `instance` as the main loop does, woken by its descriptors, until every send has its
// outcome; the messages it took.
std::vector<std::string> serveUntilAnswered(SingleInstance& instance, const Sends& sends) {
  std::vector<std::string> taken;
  const auto answered = [&sends] {
    return std::all_of(sends.begin(), sends.end(), [](const auto& send) {
      return send.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
  };
  while (!answered()) {
    std::vector<pollfd> watched;
    for (int fd : instance.descriptors())
      watched.push_back({.fd = fd, .events = POLLIN, .revents = 0});
    ::poll(watched.data(), watched.size(), 20);
    for (auto& message : instance.service(0)) taken.push_back(std::move(message));
  }
  return taken;
}

// One send, served; its outcome and the messages taken.
std::pair<HandOff, std::vector<std::string>> sendServed(SingleInstance& instance,
                                                        const std::string& runtime,
                                                        const std::string& display,
                                                        const std::string& message) {
  Sends sends;
  sends.push_back(sendAway(runtime, display, message));
  auto taken = serveUntilAnswered(instance, sends);
  return {sends.front().get(), std::move(taken)};
}

TEST(SingleInstance, OnePerDisplayAndUrlsReachTheFirst) {
  test::TempDir runtime;
  std::string error;
  auto first = SingleInstance::claim(runtime.path(), ":7", error);
  ASSERT_TRUE(first) << error;
  EXPECT_FALSE(SingleInstance::claim(runtime.path(), ":7", error));
  EXPECT_TRUE(error.empty()) << "another instance is not an error: " << error;
  // Another display is another instance.
  EXPECT_TRUE(SingleInstance::claim(runtime.path(), ":8", error));

  for (const std::string url : {"tolvane://settings", "tolvane://auth?code=1"}) {
    EXPECT_EQ(sendServed(*first, runtime.path(), ":7", url),
              std::make_pair(HandOff::delivered, std::vector<std::string>{url}));
  }
  EXPECT_TRUE(first->service(0).empty());

  first.reset();
  EXPECT_EQ(SingleInstance::send(runtime.path(), ":7", "tolvane://settings"), HandOff::noInstance);
  EXPECT_TRUE(SingleInstance::claim(runtime.path(), ":7", error)) << error;
}

TEST(SingleInstance, ALeftoverSocketFileDoesNotBlockTheNextInstance) {
  test::TempDir runtime;
  const auto path = SingleInstance::socketPath(runtime.path(), "host:0.0");
  EXPECT_EQ(path, runtime.path() + "/tolvane-host_0.0.sock");
  // A socket file nobody listens on, as a killed instance leaves it.
  {
    const UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = addressOf(path);
    ASSERT_EQ(bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  std::string error;
  auto instance = SingleInstance::claim(runtime.path(), "host:0.0", error);
  EXPECT_EQ(sendServed(*instance, runtime.path(), "host:0.0", "tolvane://x").first,
            HandOff::delivered);
}

TEST(SingleInstance, ASenderNotAnsweredOkSaysSo) {
  // A listener that is not an instance: it takes the line and closes unanswered, as the
  // instance once did beyond its places, or never answers at all.
  test::TempDir runtime;
  const auto path = SingleInstance::socketPath(runtime.path(), ":3");
  const UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const auto address = addressOf(path);
  ASSERT_EQ(bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener.get(), 4), 0);
  for (const bool closes : {true, false}) {
    auto sent = std::async(std::launch::async, [&] {
      return SingleInstance::send(runtime.path(), ":3", "tolvane://x", 0.05);
    });
    UniqueFd client(accept(listener.get(), nullptr, nullptr));
    char line[32];
    EXPECT_GT(recv(client.get(), line, sizeof line, 0), 0);
    if (closes) client.reset();
    EXPECT_EQ(sent.get(), HandOff::notAcknowledged) << closes;
  }
}

TEST(SingleInstance, MoreSendersThanPlacesAreEachAcknowledgedOrToldBusy) {
  test::TempDir runtime;
  std::string error;
  auto instance = SingleInstance::claim(runtime.path(), ":4", error);
  ASSERT_TRUE(instance) << error;
  // Clients that hold a place without finishing their line leave fewer for the senders.
  for (const std::size_t held : {std::size_t{0}, SingleInstance::kMaxClients}) {
    std::vector<std::unique_ptr<Client>> holders;
    for (std::size_t i = 0; i < held; ++i) {
      holders.push_back(std::make_unique<Client>(SingleInstance::socketPath(runtime.path(), ":4")));
      holders.back()->write("tolvane://");
    }
    Sends sends;
    for (std::size_t i = 0; i < 2 * SingleInstance::kMaxClients; ++i) {
      sends.push_back(sendAway(runtime.path(), ":4", "tolvane://" + std::to_string(i)));
    }
    auto taken = serveUntilAnswered(*instance, sends);
    std::vector<std::string> acknowledged;
    for (std::size_t i = 0; i < sends.size(); ++i) {
      const auto outcome = sends[i].get();
      EXPECT_TRUE(outcome == HandOff::delivered || outcome == HandOff::busy) << held << " " << i;
      if (outcome == HandOff::delivered) acknowledged.push_back("tolvane://" + std::to_string(i));
    }
    std::sort(taken.begin(), taken.end());
    std::sort(acknowledged.begin(), acknowledged.end());
    EXPECT_EQ(taken, acknowledged) << held << " held: every message taken was acknowledged";
    holders.clear();
    instance->service(0);
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
  ASSERT_TRUE(client.connected());
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
  EXPECT_EQ(instance->service(now + 1.9), std::vector<std::string>{"tolvane://auth?code=42"});
  EXPECT_TRUE(quick.closedByInstance());
  EXPECT_EQ(instance->descriptors().size(), 1u);
}

TEST_F(SingleInstanceClients, WhatEachClientSendsGivesOneCheckedLineAtMost) {
  struct Row {
    std::string sent;
    std::vector<std::string> delivered;
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
    Client client(socket());
    client.write(row.sent);
    client.finishSending();
    EXPECT_EQ(instance->service(0), row.delivered) << row.sent.substr(0, 20);
    EXPECT_EQ(client.answer(), row.answer) << row.sent.substr(0, 20);
    EXPECT_TRUE(client.closedByInstance()) << row.sent.substr(0, 20);
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
  EXPECT_EQ(instance->service(0), std::vector<std::string>{"tolvane://whole"});
  EXPECT_EQ(whole.answer(), "ok\n");
  EXPECT_EQ(ninth.answer(), "busy\n");
  EXPECT_TRUE(ninth.closedByInstance());
  EXPECT_EQ(instance->descriptors().size(), 1 + SingleInstance::kMaxClients);
  for (const auto& client : slow) EXPECT_FALSE(client->closedByInstance());

  slow.front()->write("\n");
  EXPECT_EQ(instance->service(1), std::vector<std::string>{"tolvane://slow"});
  Client next(socket());
  next.write("tolvane://next\n");
  EXPECT_EQ(instance->service(1), std::vector<std::string>{"tolvane://next"});
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
