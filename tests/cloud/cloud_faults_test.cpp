// Every cloud client at once against a service that misbehaves in every way it can, over real
// HTTP: whatever the reply, the preference file keeps its bytes, the account is signed out only
// by a 401 answering its refresh, and every call returns at once, so the main thread never
// waits on the network.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "backends/sim/sim_desktop.h"
#include "backends/sim/sim_process_log.h"
#include "backends/sim/sim_run_loop.h"
#include "backends/sim/sim_system.h"
#include "backends/system/json_preference_store.h"
#include "backends/system/openssl_digest.h"
#include "cloud/cloud_account.h"
#include "cloud/cloud_sync.h"
#include "reporting/crash_reporter.h"
#include "reporting/tester_mode.h"
#include "support/counting_http_client.h"
#include "support/mock_backend.h"
#include "support/sim_services.h"
#include "support/temp_dir.h"

namespace tolvane {
namespace {

using test::MockBackend;
using test::MockReply;

constexpr const char* kPaths[] = {"/api/me", "/api/sync/tolvane", "/api/crash", "/api/testlog"};

struct Fault {
  const char* name;
  MockReply reply;
  /// The reply never comes (while the test runs).
  bool never = false;
};

// The preference file as JSON, without the one key a failed upload may move: tester mode
// advances its export time before it sends, so that a window is never sent twice.
nlohmann::json settingsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  auto json = nlohmann::json::parse(bytes.str(), nullptr, false);
  if (json.is_object()) json.erase("testerLastExport");
  return json;
}

// One machine's cloud clients, signed in, with sync and tester mode on, over a real preference
// file.
struct Machine {
  explicit Machine(const std::string& base)
      : secrets({{secretkey::kCloudToken, "tok"},
                 {secretkey::kCloudTokenBase, base},
                 {secretkey::kCloudEmail, "ada@example.org"},
                 {secretkey::kCloudTier, "pro"},
                 {secretkey::kCloudDeviceID, "device-1"}}),
        cloud(base) {
    preferences.set("launchAtLogin", false);
    preferences.set("testerModeEnabled", true);
    preferences.set("crashInstallID", std::string("7A677879-856E-4D28-AC9D-B2D1A8FDA18D"));
    preferences.set("cloudSyncBaseVersion", std::int64_t{3});
  }

  test::TempDir temp;
  system::PosixFileSystem disk;
  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  sim::SimDesktop desktop{clock, loop};
  DebugLog log{disk, clock, temp.path() + "/log"};
  const std::string preferenceFile = temp.path() + "/preferences.json";
  system::JsonPreferenceStore preferences{disk, clock, preferenceFile, [](const std::string&) {}};
  sim::SimLoginItems loginItems;
  sim::SimSystemLog systemLog;
  AppSettings settings{preferences, loginItems, systemLog, log};
  test::MemorySecretStore secrets;
  sim::SimRandom random;
  sim::SimSystemInfo system;
  sim::SimProcessLog processLog;
  const system::OpenSslDigest digest;
  const CloudConfig cloud;
  test::CountingHttpClient http;
  CloudAccount account{{secrets, http, loop, desktop, random, digest, cloud, log}};
  CloudSync sync{CloudSync::following(account, {.settings = settings,
                                                .preferences = preferences,
                                                .secrets = secrets,
                                                .http = http,
                                                .runLoop = loop,
                                                .cloud = cloud,
                                                .log = log})};
  CrashReporter crashes{{preferences, http, random, {}, cloud}};
  TesterMode tester{{preferences, http, clock, loop, random, system, log, &processLog, {}, cloud}};
};

TEST(CloudFaults, NoReplyCorruptsSettingsOrSignsOutButARefreshAnswered401) {
  const std::string big = R"({"version":9,"blob":")" + std::string(20 * 1024 * 1024, 'x') + "\"}";
  const Fault faults[] = {
      {"401", MockReply::json(401, R"({"error":"unauthorized"})")},
      {"409", MockReply::json(409, "{}")},
      {"500", MockReply::json(500, "{}")},
      {"503", MockReply::json(503, "busy")},
      {"not JSON", MockReply::json(200, "<html>hello</html>")},
      {"array", MockReply::json(200, R"([{"version":9,"blob":"{}"}])")},
      {"empty", MockReply::json(200, "")},
      {"20 MB", MockReply::json(200, big)},
      {"reset", MockReply{.status = 200, .cutOff = true}},
      {"never", MockReply::json(200, "{}"), true},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    MockBackend mock;
    Machine machine(mock.baseURL());
    for (const char* path : kPaths) mock.reply(path, fault.reply);
    if (fault.never) mock.holdReplies();
    const auto before = settingsOf(machine.preferenceFile);
    ASSERT_TRUE(before.is_object());

    // Each returns at once; the replies are handled on the main thread when they come.
    machine.account.refresh();
    machine.sync.pull(true);
    machine.loop.runUntilIdle();
    machine.crashes.receive({CrashDiagnostic{
        .osVersion = "Debian 12", .arch = "x86_64", .callStackJSON = "{}", .signal = 11}});
    machine.tester.upload();
    machine.tester.drain();
    ASSERT_TRUE(mock.waitForRequests(std::size(kPaths))) << [&] {
      std::string paths;
      for (const auto& request : mock.requests())
        paths += request.method + " " + request.path + "; ";
      return paths;
    }();
    if (!fault.never) {
      ASSERT_TRUE(machine.http.waitForReplies(static_cast<int>(std::size(kPaths))));
      machine.loop.runUntilIdle();
    }

    const bool refreshSaid401 = std::string(fault.name) == "401";
    EXPECT_EQ(machine.account.state().signedIn, !refreshSaid401);
    EXPECT_EQ(machine.secrets.get(secretkey::kCloudToken).has_value(), !refreshSaid401);
    EXPECT_EQ(machine.secrets.get(secretkey::kCloudDeviceID), "device-1");
    EXPECT_EQ(machine.sync.status(),
              fault.never ? CloudSync::Status::syncing : CloudSync::Status::error);
    EXPECT_EQ(settingsOf(machine.preferenceFile), before);
    mock.releaseReplies();
  }
}

}  // namespace
}  // namespace tolvane
