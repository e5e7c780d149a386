// The IPC client's framing against a fake sway on a socket in a temporary folder.
#include "backends/sway/sway_ipc.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "support/temp_dir.h"

namespace tolvane::sway {
namespace {

std::string frame(std::uint32_t type, std::string_view body, std::string_view magic = "i3-ipc") {
  const auto length = static_cast<std::uint32_t>(body.size());
  std::string bytes(magic);
  bytes.append(reinterpret_cast<const char*>(&length), 4);
  bytes.append(reinterpret_cast<const char*>(&type), 4);
  return bytes.append(body);
}

class FakeSway : public ::testing::Test {
 protected:
  void SetUp() override {
    sockaddr_un address{.sun_family = AF_UNIX};
    const std::string path = folder.path() + "/sway.sock";
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    connectClient();
  }
  // A fresh client, the fake's end of it in `server`.
  void connectClient() {
    if (server >= 0) close(server);
    std::string error;
    client = SwayIpc::connect(folder.path() + "/sway.sock", error);
    ASSERT_TRUE(client) << error;
    server = accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);
  }
  void TearDown() override {
    close(server);
    close(listener);
  }
  void send(std::string_view bytes) const {
    ASSERT_EQ(::send(server, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

  test::TempDir folder;
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int server = -1;
  std::unique_ptr<SwayIpc> client;
};

TEST_F(FakeSway, ARequestGetsItsReplyAndKeepsTheEventsBeforeIt) {
  std::string request(14 + 4, '\0');
  std::thread sway([&] {
    recv(server, request.data(), request.size(), MSG_WAITALL);
    send(frame(ipc::kBindingEvent, R"({"change":"run"})"));
    const std::string reply = frame(ipc::kGetTree, R"({"id":1})");
    send(reply.substr(0, 9));  // the header itself split
    send(reply.substr(9));
  });
  const auto reply = client->request(ipc::kGetTree, "tree", 5.0);
  sway.join();
  EXPECT_EQ(request, frame(ipc::kGetTree, "tree"));
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, nlohmann::json({{"id", 1}}));
  const auto events = client->readAvailable();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, ipc::kBindingEvent);
  EXPECT_FALSE(client->failed());
}

TEST_F(FakeSway, BrokenFramingFailsTheConnectionForGood) {
  struct Row {
    const char* what;
    std::string reply;
  };
  const std::string oversized =
      frame(ipc::kGetTree, "").substr(0, 6) + std::string("\xff\xff\xff\x7f\x04\0\0\0", 8);
  const Row rows[] = {
      {"wrong magic", frame(ipc::kGetTree, "{}", "i3-ipX")},
      {"oversized length", oversized},
      {"a reply to another request", frame(ipc::kGetConfig, "{}")},
      {"no reply before the deadline", ""},
  };
  for (const Row& row : rows) {
    connectClient();
    send(row.reply);
    EXPECT_FALSE(client->request(ipc::kGetTree, "", 0.0)) << row.what;
    EXPECT_TRUE(client->failed()) << row.what;
    send(frame(ipc::kGetTree, "{}"));
    EXPECT_FALSE(client->request(ipc::kGetTree, "", 0.0)) << row.what << ", asked again";
  }
}

TEST_F(FakeSway, AnEventBurstIsReadWholeAPartialFrameWaitsAndAnOversizedOneOrTheEndFails) {
  std::string burst;
  for (int i = 0; i < 50; ++i)
    burst += frame(ipc::kWindowEvent, R"({"n":)" + std::to_string(i) + "}");
  const std::string last = frame(ipc::kShutdownEvent, R"({"change":"exit"})");
  send(burst + last.substr(0, 20));
  const auto events = client->readAvailable();
  ASSERT_EQ(events.size(), 50u);
  EXPECT_EQ(events[49].body["n"], 49);
  send(last.substr(20));
  const auto rest = client->readAvailable();
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].type, ipc::kShutdownEvent);
  EXPECT_FALSE(client->failed());
  // The header alone: the client must refuse before reading the body.
  send(frame(ipc::kBindingEvent, std::string(SwayIpc::kMaxEventBytes + 1, ' ')).substr(0, 14));
  EXPECT_TRUE(client->readAvailable().empty());
  EXPECT_TRUE(client->failed());
  connectClient();
  send(frame(ipc::kBindingEvent, "{}"));
  shutdown(server, SHUT_WR);
  EXPECT_EQ(client->readAvailable().size(), 1u);
  EXPECT_TRUE(client->failed());
}

}  // namespace
}  // namespace tolvane::sway
