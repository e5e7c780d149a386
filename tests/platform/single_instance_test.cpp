// One instance per user and display: the second claim fails, a URL reaches the first, and a
// killed instance's leftovers do not block the next one.
#include "backends/system/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
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

TEST(SingleInstance, OnePerDisplayAndUrlsReachTheFirst) {
  test::TempDir runtime;
  std::string error;
  auto first = SingleInstance::claim(runtime.path(), ":7", error);
  ASSERT_TRUE(first) << error;
  EXPECT_FALSE(SingleInstance::claim(runtime.path(), ":7", error));
  EXPECT_TRUE(error.empty()) << "another instance is not an error: " << error;
  // Another display is another instance.
  EXPECT_TRUE(SingleInstance::claim(runtime.path(), ":8", error));

  ASSERT_TRUE(SingleInstance::send(runtime.path(), ":7", "tolvane://settings"));
  ASSERT_TRUE(SingleInstance::send(runtime.path(), ":7", "tolvane://auth?code=1"));
  EXPECT_EQ(first->service(0),
            (std::vector<std::string>{"tolvane://settings", "tolvane://auth?code=1"}));
  EXPECT_TRUE(first->service(0).empty());

  first.reset();
  EXPECT_FALSE(SingleInstance::send(runtime.path(), ":7", "tolvane://settings"));
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
  EXPECT_TRUE(SingleInstance::send(runtime.path(), "host:0.0", "tolvane://x"));
  EXPECT_EQ(instance->service(0).size(), 1u);
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
  /// True once the instance has closed its side (a reset when it left bytes unread).
  bool closedByInstance() const {
    char byte;
    const ssize_t n = recv(fd_.get(), &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }

 private:
  UniqueFd fd_;
  bool connected_ = false;
};

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
  };
  const std::string longest(SingleInstance::kMaxMessageBytes - 1, 'a');
  const Row rows[] = {
      {"tolvane://first\nsecond\n", {"tolvane://first"}},
      {longest + "\n", {longest}},
      // Past the cap, empty, with control characters, or gone before its line feed.
      {longest + "a\n", {}},
      {"\n", {}},
      {"tolvane://a\tb\n", {}},
      {"tolvane://unfinished", {}},
  };
  for (const auto& row : rows) {
    Client client(socket());
    client.write(row.sent);
    client.finishSending();
    EXPECT_EQ(instance->service(0), row.delivered) << row.sent.substr(0, 20);
    EXPECT_TRUE(client.closedByInstance()) << row.sent.substr(0, 20);
  }
}

TEST_F(SingleInstanceClients, ANinthClientIsClosedAtOnceAndAFreedPlaceIsTakenAgain) {
  std::vector<std::unique_ptr<Client>> slow;
  for (std::size_t i = 0; i < SingleInstance::kMaxClients; ++i) {
    slow.push_back(std::make_unique<Client>(socket()));
    slow.back()->write("tolvane://slow");
  }
  Client ninth(socket());
  ninth.write("tolvane://ninth\n");
  EXPECT_TRUE(instance->service(0).empty());
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
