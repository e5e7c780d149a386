// The cloud features of the real `tolvane` against a fake service on the loopback mock: the
// browser sign-in played by the test (an xdg-open on PATH that notes the page it was asked to
// open, and the callback handed over as a second start would), the token in the Secret Service
// of a private session bus, a setting synchronised from one configuration folder to another, a
// crash reported once at the next launch, and a tester-mode upload holding the log's tail.
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "desktop/support/cloud_desktop.h"
#include "support/fake_cloud_service.h"
#include "support/keyring_session.h"

namespace tolvane::test {
namespace {

class CloudInTolvane : public CloudDesktopTest {
 protected:
  std::string baseURL() const override { return mock.baseURL(); }

  /// Signs in on the fake service's page, as the user who has an account there.
  void signIn() {
    CloudDesktopTest::signIn([&](const std::string& page) -> std::optional<std::string> {
      EXPECT_TRUE(page.starts_with(mock.baseURL() + "/app/connect?app=tolvane&challenge="));
      const auto challenge = queryItem(page, "challenge");
      const auto state = queryItem(page, "state");
      if (!challenge || !state) return std::nullopt;
      return "tolvane://auth?code=" + service.authorize(*challenge) + "&state=" + *state;
    });
  }

  MockBackend mock;
  FakeCloudService service{mock};
};

TEST_F(CloudInTolvane, SignsInSyncsASettingToAnotherMachineAndSignsOut) {
  const auto& keyring = KeyringSession::shared();
  if (!keyring.problem().empty()) GTEST_SKIP() << "no Secret Service: " << keyring.problem();
  launch();
  ASSERT_NO_FATAL_FAILURE(signIn());
  // The service held nothing: this machine's settings become its first revision.
  ASSERT_TRUE(waitForLog("sync: pushed version=1")) << tolvane->log();
  EXPECT_EQ(keyringValue("cloudToken").value_or("").substr(0, 6), "token-");
  EXPECT_EQ(keyringValue("cloudEmail"), FakeCloudService::kEmail);
  EXPECT_EQ(tolvane->count("not in a keyring"), 0) << tolvane->log();

  // A new palette combination, recorded as a user records it.
  ASSERT_NO_FATAL_FAILURE(recordPaletteCombination("key ctrl+shift+k"));
  ASSERT_TRUE(waitForLog("palette hotkey registered keyCode=40 modifiers=4608")) << tolvane->log();
  ASSERT_TRUE(waitForLog("sync: pushed version=2")) << tolvane->log();
  const auto blob = nlohmann::json::parse(service.syncBlob());
  EXPECT_EQ(blob["paletteKeyCode"], 40);
  EXPECT_EQ(blob["paletteModifiers"], 4608);

  // Signing out forgets the token here and revokes it at the service.
  ASSERT_EQ(tolvane->sendURL("tolvane://test-sign-out"), 0);
  ASSERT_TRUE(waitForLog("cloud sign-out: logout reply=200")) << tolvane->log();
  EXPECT_EQ(service.liveTokens(), 0u);
  EXPECT_EQ(keyringValue("cloudToken"), std::nullopt);
  ASSERT_TRUE(WIFEXITED(waitForExit(SIGTERM)));

  ASSERT_NO_FATAL_FAILURE(launchMachineB());
  EXPECT_EQ(tolvane->count("palette hotkey registered keyCode=49 modifiers=2048"), 1);
  ASSERT_NO_FATAL_FAILURE(signIn());
  ASSERT_TRUE(waitForLog("sync: applied version=2")) << tolvane->log();
  ASSERT_TRUE(waitForLog("palette hotkey registered keyCode=40 modifiers=4608")) << tolvane->log();
  const auto stored = nlohmann::json::parse(
      readFile(machineB.path() + "/XDG_CONFIG_HOME/com.brenmoor.tolvane/preferences.json"));
  EXPECT_EQ(stored["paletteKeyCode"], 40);
  EXPECT_EQ(stored["paletteModifiers"], 4608);
}

TEST_F(CloudInTolvane, ACrashIsReportedOnceAtTheNextLaunch) {
  launch();
  ASSERT_EQ(tolvane->sendURL("tolvane://test-crash"), 0);
  const int status = waitForExit();
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << tolvane->log();

  const auto crashes = [&] {
    std::vector<nlohmann::json> bodies;
    for (const auto& request : mock.requests()) {
      if (request.path == "/api/crash") bodies.push_back(nlohmann::json::parse(request.body));
    }
    return bodies;
  };
  launch();
  ASSERT_TRUE(mock.waitForRequests(1)) << tolvane->log();
  ASSERT_TRUE(waitForLog("crash reports: delivered=1 sending")) << tolvane->log();
  ASSERT_EQ(crashes().size(), 1u);
  const auto body = crashes()[0];
  EXPECT_EQ(body["type"], "crash");
  EXPECT_EQ(body["app"], "tolvane");
  EXPECT_EQ(body["signal"], SIGSEGV);
  EXPECT_TRUE(body["callStack"].is_object());
  // The body as the service received it, for the record of the run.
  if (const char* artifacts = std::getenv("TOLVANE_TEST_ARTIFACTS")) {
    std::ofstream(std::string(artifacts) + "/crash-report.json") << body.dump(2);
  }
  ASSERT_TRUE(WIFEXITED(waitForExit(SIGTERM)));

  launch();
  ASSERT_TRUE(waitForLog("crash reports: delivered=0")) << tolvane->log();
  EXPECT_EQ(crashes().size(), 1u);
}

TEST_F(CloudInTolvane, TesterModeUploadsTheLogTail) {
  writePreferences(R"({"testerModeEnabled": true})");
  launch();
  ASSERT_TRUE(mock.waitForRequests(1));
  RecordedRequest upload;
  ASSERT_TRUE(pollUntil([&] {
    for (const auto& request : mock.requests()) {
      if (request.path == "/api/testlog") upload = request;
    }
    return !upload.path.empty();
  }));
  const auto body = nlohmann::json::parse(upload.body);
  EXPECT_EQ(body["type"], "testlog");
  const std::string log = body["log"];
  EXPECT_TRUE(log.starts_with("== app log (DebugLog) ==\n")) << log.substr(0, 200);
  EXPECT_NE(log.find("tester: session start (v"), std::string::npos);
  EXPECT_NE(log.find("== unified log (own process, since "), std::string::npos);
}

}  // namespace
}  // namespace tolvane::test
