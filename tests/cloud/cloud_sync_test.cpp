// Settings sync on virtual time: when pushes go out, what a pull does with each kind of reply,
// conflicts, echoes of applied blobs, replies that race the user, and failures.
#include "cloud/cloud_sync.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/sim_services.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;
using Strings = std::vector<std::string>;
using Status = CloudSync::Status;

struct Rig : test::SyncServices {
  using SyncServices::SyncServices;

  CloudSync& sync() {
    if (!sync_) {
      sync_ = std::make_unique<CloudSync>(dependencies(scripted));
      statusSubscription_ = sync_->subscribe([this] { statuses.push_back(sync_->status()); });
      sync_->start();
    }
    return *sync_;
  }
  void reply(const std::string& method, int status, const Json& body) {
    scripted.replies[method] = {status, body.dump(), ""};
  }
  Strings methods() const {
    Strings methods;
    for (const auto& request : scripted.requests) methods.push_back(request.method);
    return methods;
  }
  Json body(std::size_t i) const { return Json::parse(scripted.requests.at(i).body); }
  std::string lastBlob() const {
    return preferences.stringValue(prefkey::kCloudSyncLastBlob).value_or("<none>");
  }
  std::int64_t base() const {
    return preferences.intValue(prefkey::kCloudSyncBaseVersion).value_or(0);
  }
  void seedBookkeeping(std::int64_t base, const std::string& blob) {
    preferences.set(prefkey::kCloudSyncBaseVersion, base);
    preferences.set(prefkey::kCloudSyncLastBlob, blob);
  }

  std::unique_ptr<CloudSync> sync_;
  std::vector<Status> statuses;
  Notifier::Subscription statusSubscription_;
};

class CloudSyncTest : public ::testing::Test, protected Rig {};

const std::string kRemoteBlob = R"({"excludedBundleIDs":["org.remote"],"languageCode":"ja"})";

TEST_F(CloudSyncTest, ABurstOfChangesIsOnePushTwoSecondsAfterTheLast) {
  sync();
  reply("PUT", 200, {{"version", 4}});
  for (int i = 0; i < 10; ++i) {
    settings.setExcludedBundleIDs({"org.app" + std::to_string(i)});
    loop.advance(0.1);
  }
  loop.advance(1.85);  // the last change came at 0.9 s; now is 2.85 s
  EXPECT_TRUE(scripted.requests.empty());
  loop.advance(0.1);

  ASSERT_EQ(methods(), Strings{"PUT"});
  const auto& put = scripted.requests[0];
  EXPECT_EQ(put.headers.at("Authorization"), "Bearer token-1");
  const std::string blob = sync().snapshotBlob();
  EXPECT_EQ(body(0), Json({{"blob", blob}, {"baseVersion", 0}, {"deviceId", "device-1"}}));
  EXPECT_EQ(lastBlob(), blob);
  EXPECT_EQ(base(), 4);
  EXPECT_EQ(statuses, (std::vector{Status::syncing, Status::idle}));

  // A change back to the settings last synced sends nothing.
  settings.setShowMinimizedWindows(false);
  settings.setShowMinimizedWindows(true);
  loop.advance(10);
  EXPECT_EQ(methods(), Strings{"PUT"});
}

TEST_F(CloudSyncTest, AConflictTakesTheServiceSettingsWhateverTheirVersionAndPushesNoEcho) {
  seedBookkeeping(9, "{}");
  reply("PUT", 409, Json::object());
  reply("GET", 200, {{"version", 3}, {"blob", kRemoteBlob}});
  sync();
  settings.setShowMinimizedWindows(false);
  loop.advance(2);

  EXPECT_EQ(methods(), (Strings{"PUT", "GET"}));
  EXPECT_EQ(settings.languageCode(), "ja");
  EXPECT_EQ(settings.excludedBundleIDs(), Strings{"org.remote"});
  EXPECT_FALSE(settings.showMinimizedWindows());  // absent from the blob: left alone
  EXPECT_EQ(base(), 3);
  EXPECT_EQ(lastBlob(), kRemoteBlob);
  EXPECT_EQ(sync().status(), Status::idle);
  // The settings the blob changed are no change of ours to push back.
  loop.advance(10);
  EXPECT_EQ(scripted.requests.size(), 2u);
}

TEST_F(CloudSyncTest, APullPushesAppliesOrRestsByTheVersions) {
  struct Row {
    const char* name;
    std::int64_t base;
    bool changedHere;
    Json reply;
    Strings methods;
    bool applied;
    std::int64_t baseAfter;
    // The bookkeeping is another account's, or the same e-mail's at another service: it goes
    // at sign-in, and the service's 7 is news.
    bool otherAccount = false;
    bool otherService = false;
  };
  const Json remote7 = {{"version", 7}, {"blob", kRemoteBlob}};
  const auto unreadable = [](const char* blob) { return Json{{"version", 7}, {"blob", blob}}; };
  const Row rows[] = {
      {"nothing at the service", 5, false, Json::object(), {"GET", "PUT"}, false, 8},
      {"version 0", 5, false, {{"version", 0}, {"blob", kRemoteBlob}}, {"GET", "PUT"}, false, 8},
      {"no blob", 5, false, {{"version", 7}, {"blob", nullptr}}, {"GET", "PUT"}, false, 8},
      {"not newer, same here", 7, false, remote7, {"GET"}, false, 7},
      {"not newer, changed here", 8, true, remote7, {"GET", "PUT"}, false, 8},
      {"newer", 6, true, remote7, {"GET"}, true, 7},
      // An unreadable blob still becomes the base, and applies nothing.
      {"an array", 5, false, unreadable("[1]"), {"GET"}, false, 7},
      {"no JSON", 5, false, unreadable("not json"), {"GET"}, false, 7},
      {"empty", 5, false, unreadable(""), {"GET"}, false, 7},
      {"another account's newer base", 8, false, remote7, {"GET"}, true, 7, true},
      {"another service's newer base", 8, false, remote7, {"GET"}, true, 7, false, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Rig rig;
    const std::string before = rig.sync().snapshotBlob();
    rig.loop.runUntilIdle();
    EXPECT_TRUE(rig.scripted.requests.empty()) << "signed out";
    rig.sync().setEnabled(false);
    rig.seedBookkeeping(row.base, row.changedHere ? "{}" : before);
    if (row.otherAccount) rig.email = "bob@example.org";
    if (row.otherService) {
      rig.cloud = CloudConfig("http://other.test");
      rig.secrets.set(secretkey::kCloudTokenBase, rig.cloud.baseURL());
    }
    rig.signIn();
    rig.loop.runUntilIdle();  // sync is off: the sign-in's pull sends nothing
    rig.reply("GET", 200, row.reply);
    rig.reply("PUT", 200, {{"version", 8}});
    rig.sync().setEnabled(true);  // switching sync on pulls
    rig.loop.runUntilIdle();
    rig.account.notify();  // still signed in: no new sign-in, no new pull
    rig.loop.runUntilIdle();

    EXPECT_EQ(rig.methods(), row.methods);
    if (row.methods.size() == 2) {
      EXPECT_EQ(rig.body(1)["baseVersion"], row.base);
    }
    EXPECT_EQ(rig.settings.languageCode() == "ja", row.applied);
    EXPECT_EQ(rig.sync().snapshotBlob() == before, !row.applied);
    EXPECT_EQ(rig.base(), row.baseAfter);
    EXPECT_EQ(rig.sync().status(), Status::idle);
  }
}

TEST_F(CloudSyncTest, AFailedOrInvalidReplyChangesNothingButTheStatus) {
  // The reply, and whether it fails a push too: a push reads only "version".
  const std::tuple<const char*, HttpResponse, bool> rows[] = {
      {"unauthorized", {401, "{}", ""}, true},
      {"server error", {500, "{}", ""}, true},
      {"garbage", {200, "<html>", ""}, true},
      {"array", {200, "[1]", ""}, true},
      {"no reply", {std::nullopt, "", "connection refused"}, true},
      {"negative version", {200, R"({"version":-9,"blob":"{}"})", ""}, true},
      {"fractional version", {200, R"({"version":9.5,"blob":"{}"})", ""}, true},
      {"blob not a string", {200, R"({"version":9,"blob":{"languageCode":"de"}})", ""}, false},
  };
  for (const auto& [what, response, pushFailsToo] : rows) {
    for (const bool pushing : {false, true}) {
      if (pushing && !pushFailsToo) continue;
      Rig rig;
      rig.seedBookkeeping(5, "{}");
      rig.scripted.replies[pushing ? "PUT" : "GET"] = response;
      rig.sync();
      if (pushing) rig.settings.setInterceptCmdTab(false);
      const std::string before = rig.sync().snapshotBlob();
      if (pushing) {
        rig.loop.advance(2);
      } else {
        rig.sync().pull(false);
        rig.loop.runUntilIdle();
      }
      const auto name = what + std::string(pushing ? " to a push" : " to a pull");
      EXPECT_EQ(rig.methods(), Strings{pushing ? "PUT" : "GET"}) << name;
      EXPECT_EQ(rig.sync().status(), Status::error) << name;
      EXPECT_EQ(rig.base(), 5) << name;
      EXPECT_EQ(rig.lastBlob(), "{}") << name;
      EXPECT_EQ(rig.sync().snapshotBlob(), before) << name;
    }
  }
}

TEST_F(CloudSyncTest, ChangesMadeWhileAPushIsInTheAirGoOutAfterItsReply) {
  reply("PUT", 200, {{"version", 5}});
  scripted.hold = true;
  sync();
  settings.setInterceptCmdTab(false);
  loop.advance(2);
  const std::string sent = sync().snapshotBlob();
  settings.setInterceptAppCycle(false);
  loop.advance(2);
  EXPECT_EQ(methods(), Strings{"PUT"}) << "a second push would carry the outdated base";

  scripted.release();
  loop.runUntilIdle();
  EXPECT_EQ(lastBlob(), sent) << "the reply commits what was sent, not what is set now";
  ASSERT_EQ(methods(), (Strings{"PUT", "PUT"}));
  EXPECT_EQ(body(1)["baseVersion"], 5);
  EXPECT_EQ(body(1)["blob"], sync().snapshotBlob());
}

TEST_F(CloudSyncTest, AServiceThatRefusesEveryPushWhileHoldingNothingEndsInError) {
  reply("PUT", 409, Json::object());
  sync();
  settings.setInterceptCmdTab(false);
  // Item by item, at most 50: a chain of requests that never ends fails instead of hanging.
  for (int i = 0; i < 50 && loop.runNext(); ++i) {
  }
  EXPECT_EQ(methods(), (Strings{"PUT", "GET", "PUT"}));
  EXPECT_EQ(sync().status(), Status::error);
}

TEST_F(CloudSyncTest, NothingGoesOutWhileSyncIsOffOrThereIsNoToken) {
  for (const bool off : {true, false}) {
    Rig rig;
    if (off) rig.preferences.set(prefkey::kCloudSyncEnabled, false);
    if (!off) rig.secrets.remove(secretkey::kCloudToken);
    rig.sync();
    rig.signIn();
    rig.settings.setInterceptCmdTab(false);
    rig.sync().pull(true);
    rig.loop.advance(10);
    EXPECT_TRUE(rig.scripted.requests.empty()) << off;
    EXPECT_EQ(rig.sync().status(), Status::idle) << off;
  }
}

TEST_F(CloudSyncTest, NothingRunsOnceTheSyncIsGone) {
  scripted.hold = true;
  sync();
  settings.setInterceptCmdTab(false);
  loop.advance(2);
  sync().pull(false);
  sync_.reset();
  scripted.release();
  loop.advance(10);
  EXPECT_EQ(methods(), Strings{"PUT"});
  EXPECT_EQ(lastBlob(), "<none>");
}

}  // namespace
}  // namespace tolvane
