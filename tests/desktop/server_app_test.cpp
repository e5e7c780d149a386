// The real `tolvane` against a real tolvane-server (SQLite in the test's folder): an account
// made on the server's own sign-in page, a setting carried by the server from one configuration
// folder to another, and a sign-out that the server honours by refusing the token afterwards.
#include <sys/wait.h>

#include <httplib.h>

#include <csignal>
#include <memory>
#include <string>

#include "desktop/support/cloud_desktop.h"
#include "support/keyring_session.h"
#include "testing/browser_sign_in.h"
#include "testing/server_process.h"

namespace tolvane::test {
namespace {

using server::testing::ServerProcess;

constexpr const char* kEmail = "ada@example.org";
constexpr const char* kPassword = "correct horse battery";

class TolvaneOnServer : public CloudDesktopTest {
 protected:
  void SetUp() override {
    std::string whyNot;
    // Cheap hashing: the cost of the defaults buys nothing in a test.
    server = ServerProcess::start(
        TOLVANE_SERVER_EXECUTABLE,
        {"--db", home.path() + "/server.db", "--argon2-memory", "256", "--argon2-passes", "1"},
        whyNot);
    ASSERT_TRUE(server) << whyNot;
    ASSERT_NO_FATAL_FAILURE(CloudDesktopTest::SetUp());
  }
  void TearDown() override {
    // Tolvane first: the server's stop waits out the keep-alive of every connection left open.
    tolvane.reset();
    server.reset();
  }
  std::string baseURL() const override { return server->baseURL(); }

  /// Signs in on the server's page; `action` "signup" makes the account, "signin" uses it.
  void signIn(const std::string& action) {
    CloudDesktopTest::signIn([&](const std::string& page) -> std::optional<std::string> {
      std::string whyNot;
      auto callback = server::testing::submitSignInPage(page, kEmail, kPassword, action, whyNot);
      EXPECT_TRUE(callback) << whyNot << "\n" << server->errors();
      return callback;
    });
  }

  /// The status of GET /api/me with `token`, as any client of the server would see it.
  int accountStatus(const std::string& token) {
    httplib::Client client(server->baseURL());
    const auto reply = client.Get("/api/me", {{"Authorization", "Bearer " + token}});
    return reply ? reply->status : -1;
  }

  std::unique_ptr<ServerProcess> server;
};

TEST_F(TolvaneOnServer, CarriesASettingToAnotherMachineAndRevokesTheTokenAtSignOut) {
  const auto& keyring = KeyringSession::shared();
  if (!keyring.problem().empty()) GTEST_SKIP() << "no Secret Service: " << keyring.problem();
  launch();
  ASSERT_NO_FATAL_FAILURE(signIn("signup"));
  // A new account holds nothing: this machine's settings become its first revision.
  ASSERT_TRUE(waitForLog("sync: pushed version=1")) << tolvane->log();
  const std::string token = keyringValue("cloudToken").value_or("");
  ASSERT_EQ(accountStatus(token), 200) << server->output();

  ASSERT_NO_FATAL_FAILURE(recordPaletteCombination("key ctrl+shift+k"));
  ASSERT_TRUE(waitForLog("palette hotkey registered keyCode=40 modifiers=4608")) << tolvane->log();
  ASSERT_TRUE(waitForLog("sync: pushed version=2")) << tolvane->log();

  // The keyring is shared with the second machine: it must start signed out.
  ASSERT_EQ(tolvane->sendURL("tolvane://test-sign-out"), 0);
  ASSERT_TRUE(waitForLog("cloud sign-out: logout reply=200")) << tolvane->log();
  EXPECT_EQ(keyringValue("cloudToken"), std::nullopt);
  EXPECT_EQ(accountStatus(token), 401) << server->output();
  ASSERT_TRUE(WIFEXITED(waitForExit(SIGTERM)));

  ASSERT_NO_FATAL_FAILURE(launchMachineB());
  EXPECT_EQ(tolvane->count("palette hotkey registered keyCode=49 modifiers=2048"), 1);
  ASSERT_NO_FATAL_FAILURE(signIn("signin"));
  ASSERT_TRUE(waitForLog("sync: applied version=2")) << tolvane->log();
  ASSERT_TRUE(waitForLog("palette hotkey registered keyCode=40 modifiers=4608")) << tolvane->log();
}

}  // namespace
}  // namespace tolvane::test
