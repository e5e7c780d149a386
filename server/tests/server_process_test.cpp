// tolvane-server as a process: what stops it from starting, clients that would hog it, TLS and
// the request log.
#include <poll.h>
#include <signal.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "support/raw_client.h"
#include "support/temp_dir.h"
#include "testing/browser_sign_in.h"
#include "testing/server_process.h"

namespace tolvane::server::test {
namespace {

using testing::ServerProcess;
using Json = nlohmann::json;

class ServerProcessTest : public ::testing::Test {
 protected:
  std::string db() const { return folder.path() + "/tolvane.db"; }
  std::unique_ptr<ServerProcess> start(std::vector<std::string> extra = {}) {
    // Cheap hashing: the tests are about the process, not the cost.
    extra.insert(extra.begin(), {"--db", db(), "--argon2-memory", "256", "--argon2-passes", "1"});
    std::string whyNot;
    auto server = ServerProcess::start(TOLVANE_SERVER_EXECUTABLE, extra, whyNot);
    EXPECT_TRUE(server) << whyNot;
    return server;
  }

  ::tolvane::test::TempDir folder;
};

TEST_F(ServerProcessTest, SaysOnceWhatStopsItFromStarting) {
  auto busy = start();
  ASSERT_TRUE(busy);
  std::ofstream(folder.path() + "/not-a-database") << "hello, this is text\n";
  // The arguments, the exit code, and what standard error says.
  for (const auto& [arguments, exitCode, says] :
       std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
           {{}, 2, "name one database"},
           {{"--db", db(), "--postgres", "postgresql://x"}, 2, "name one database"},
           {{"--db", db(), "--listen", "nowhere"}, 2, "--listen wants ADDR:PORT"},
           {{"--db", db(), "--threads", "0"}, 2, "--threads wants a number"},
           {{"--db", db(), "--upload-limit", "3"}, 2, "--upload-limit wants a number"},
           {{"--db", db(), "--sign-up", "maybe"}, 2, "--sign-up wants open or closed"},
           {{"--db", db(), "--tls-cert", "/x.pem"}, 2, "--tls-cert and --tls-key go together"},
           {{"--db", folder.path() + "/missing/folder/x.db"}, 1, "missing/folder"},
           {{"--db", folder.path() + "/not-a-database"}, 1, "not-a-database"},
           {{"--postgres", "postgresql://nobody@127.0.0.1:1/none?connect_timeout=2"}, 1, ""},
           {{"--db", db(), "--listen", "127.0.0.1:" + std::to_string(busy->port())},
            1,
            "cannot listen on 127.0.0.1:" + std::to_string(busy->port())},
           {{"--db", db(), "--listen", "127.0.0.1:0", "--tls-cert", "/none.pem", "--tls-key",
             "/none.pem"},
            1,
            "TLS"}}) {
    std::string errors;
    EXPECT_EQ(ServerProcess::runToEnd(TOLVANE_SERVER_EXECUTABLE, arguments, errors), exitCode)
        << errors;
    EXPECT_NE(errors.find(says), std::string::npos) << errors;
    EXPECT_EQ(errors.find("tolvane-server:"), errors.rfind("tolvane-server:"))
        << "once: " << errors;
  }
}

TEST_F(ServerProcessTest, SlowClientsGetTheirShareAndTheirDeadlineWhileOthersAreServed) {
  auto server = start({"--threads", "2", "--read-timeout", "2", "--connections-per-address", "40"});
  ASSERT_TRUE(server);
  // 80 clients from another address, each dripping its headers a line at a time, and then one
  // that asks once and whole.
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i <= 80; ++i) {
    clients.push_back(std::make_unique<RawClient>(server->port(), i < 80 ? "127.0.0.2" : nullptr));
    clients.back()->send(i < 80 ? "GET /api/me HTTP/1.1\r\n"
                                : "GET /api/me HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  }
  std::vector<std::string> cut(clients.size());
  std::size_t open = clients.size();
  // Bounded by rounds, not by time: each waits up to 100 ms for the server to do something.
  for (int round = 0; round < 300 && open > 0; ++round) {
    std::vector<pollfd> waiting;
    for (std::size_t i = 0; i < clients.size(); ++i)
      waiting.push_back({cut[i].empty() ? clients[i]->fd() : -1, POLLIN, 0});
    poll(waiting.data(), waiting.size(), 100);
    for (std::size_t i = 0; i < clients.size(); ++i) {
      if (!cut[i].empty()) continue;
      if (waiting[i].revents) {
        cut[i] = "closed:" + clients[i]->read();
        --open;
      } else if (i < 80) {
        clients[i]->send("X-Drip: 1\r\n");
      }
    }
  }
  EXPECT_NE(cut.back().find("HTTP/1.1 401"), std::string::npos) << "answered while they drip";
  EXPECT_EQ(open, 0u) << "each cut at its deadline, though never silent";
  // The address's share was held to its deadline (408), the rest were closed unread.
  EXPECT_EQ(
      std::count_if(cut.begin(), cut.end() - 1,
                    [](const std::string& c) { return c.find(" 408 ") != std::string::npos; }),
      40);
  EXPECT_EQ(std::count(cut.begin(), cut.end() - 1, "closed:"), 40);
}

TEST_F(ServerProcessTest, LogsOneJsonLinePerRequestWithoutSecrets) {
  auto server = start();
  ASSERT_TRUE(server);
  std::string whyNot;
  const std::string token =
      testing::signInAsApplication(server->baseURL(), "ada@example.org", "correct horse", whyNot)
          .value_or("");
  ASSERT_FALSE(token.empty()) << whyNot;
  httplib::Client client(server->baseURL());
  client.Get("/api/me", {{"Authorization", "Bearer " + token}});
  client.Get("/api/%ff%00%22nope");
  server->stop(SIGTERM);
  std::istringstream lines(server->output());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    const Json entry = Json::parse(line, nullptr, false);
    ASSERT_TRUE(entry.is_object()) << line;
    EXPECT_EQ(line.find(token), std::string::npos) << "token in the log";
    EXPECT_EQ(line.find("correct horse"), std::string::npos) << "password in the log";
    ++count;
  }
  EXPECT_EQ(count, 5) << server->output();  // page, form, exchange, me, the odd path
}

TEST_F(ServerProcessTest, ServesTlsDirectly) {
  const std::string cert = folder.path() + "/cert.pem", key = folder.path() + "/key.pem";
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost";
  ASSERT_EQ(std::system((make + " -keyout " + key + " -out " + cert + " 2>/dev/null").c_str()), 0);
  auto server = start({"--tls-cert", cert, "--tls-key", key});
  ASSERT_TRUE(server);
  httplib::SSLClient client("127.0.0.1", server->port());
  client.set_ca_cert_path(cert.c_str());
  client.enable_server_certificate_verification(false);
  const auto reply = client.Get("/api/me");
  ASSERT_TRUE(reply) << httplib::to_string(reply.error());
  EXPECT_EQ(reply->status, 401);
}

}  // namespace
}  // namespace tolvane::server::test
