// The cloud features of the real `tolvane` against a fake service on the loopback mock: the
// browser sign-in played by the test (an xdg-open on PATH that notes the page it was asked to
// open, and the callback handed over as a second start would), the token in the Secret Service
// of a private session bus, a setting synchronised from one configuration folder to another, a
// crash reported once at the next launch, and a tester-mode upload holding the log's tail.
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/tolvane_desktop.h"
#include "platform/system/secret_service_store.h"
#include "support/fake_cloud_service.h"
#include "support/keyring_session.h"

namespace tolvane::test {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

/// What the keyring holds for `account` under Tolvane's schema, read as a new store reads it.
std::optional<std::string> keyringValue(const std::string& account) {
  std::string whyNot;
  auto store = system::SecretServiceStore::open(
      {.schemaName = "com.brenmoor.tolvane", .accounts = {account}}, whyNot);
  return store ? store->get(account) : std::nullopt;
}

class CloudInTolvane : public TolvaneDesktopTest {
 protected:
  void configureDisplay() override { freeAltSpace(); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(TolvaneDesktopTest::SetUp());
    // The browser: notes the page and opens nothing.
    const std::string bin = home.path() + "/bin";
    std::filesystem::create_directories(bin);
    std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << opened() << "\n";
    chmod((bin + "/xdg-open").c_str(), 0755);
    environment = {{"PATH", bin + ":" + std::getenv("PATH")}, {"TOLVANE_BASE_URL", mock.baseURL()}};
  }
  std::string opened() const { return home.path() + "/opened-urls"; }

  /// Asks the running Tolvane to sign in, signs in on the page it opened and hands the
  /// callback back, until the account says it is signed in.
  void signIn() {
    const int exchanges = tolvane->count("cloud exchange: signed in");
    ASSERT_EQ(tolvane->sendURL("tolvane://test-sign-in"), 0);
    ASSERT_TRUE(waitForLog("cloud sign-in: opened=true", exchanges + 1)) << tolvane->log();
    // The opener runs detached: the page is noted a moment after Tolvane logs that it started.
    std::string page;
    ASSERT_TRUE(pollUntil([&] {
      std::istringstream lines(readFile(opened()));
      int count = 0;
      for (std::string line; std::getline(lines, line); ++count) page = line;
      return count > pagesOpened_;
    }));
    ++pagesOpened_;
    ASSERT_TRUE(page.starts_with(mock.baseURL() + "/app/connect?app=tolvane&challenge=")) << page;
    const auto challenge = queryItem(page, "challenge");
    const auto state = queryItem(page, "state");
    ASSERT_TRUE(challenge && state) << page;
    const std::string code = service.authorize(*challenge);
    ASSERT_EQ(tolvane->sendURL("tolvane://auth?code=" + code + "&state=" + *state), 0);
    ASSERT_TRUE(waitForLog("cloud exchange: signed in", exchanges + 1)) << tolvane->log();
  }

  /// Starts a second Tolvane, on another configuration folder, as another machine would.
  void launchMachineB() {
    tolvane = std::make_unique<TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(), machineB.path(),
                                               environment);
    ASSERT_TRUE(waitForLog("window snapshot warmed")) << tolvane->log();
  }

  MockBackend mock;
  FakeCloudService service{mock};
  int pagesOpened_ = 0;
  TempDir machineB;
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
  const std::string shown = "test hook: recorder window=";
  ASSERT_EQ(tolvane->sendURL("tolvane://test-recorder"), 0);
  ASSERT_TRUE(waitForLog(shown)) << tolvane->log();
  const std::string window = std::to_string(std::strtoul(
      tolvane->log().c_str() + tolvane->log().find(shown) + shown.size(), nullptr, 10));
  ASSERT_TRUE(xdotool(x, {"mousemove", "--window", window, "12", "14", "click", "1"}));
  ASSERT_TRUE(waitForLog("test hook: recorder recording=1")) << tolvane->log();
  type("key ctrl+shift+k");
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
