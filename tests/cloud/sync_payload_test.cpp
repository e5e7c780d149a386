// The synchronised record: its blob, reading another machine's blob key by key, and applying it
// through the settings store's setters.
#include "cloud/sync_payload.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/sim_services.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;
using Strings = std::vector<std::string>;

// Local settings in which every carried value differs from the defaults and from kRemote.
sim::SimPreferenceStore::Values localSeed() {
  return {{"languageCode", std::string("fr")},
          {"interceptCmdTab", false},
          {"interceptAppCycle", false},
          {"switcherUsesOption", true},
          {"paletteKeyCode", std::int64_t{0}},
          {"paletteModifiers", std::int64_t{4096}},
          {"showMinimizedWindows", false},
          {"showHiddenAppWindows", false},
          {"excludedBundleIDs", Strings{"org.local"}},
          {"improveDataSharing", false}};
}

// Another machine's blob: every carried key, every value different from localSeed's.
const Json kRemote = {{"languageCode", "ja"},           {"interceptCmdTab", true},
                      {"interceptAppCycle", true},      {"switcherUsesOption", false},
                      {"paletteKeyCode", 122},          {"paletteModifiers", 256 | 512},
                      {"showMinimizedWindows", true},   {"showHiddenAppWindows", true},
                      {"excludedBundleIDs", {"org.a"}}, {"improveDataSharing", true}};

TEST(SyncPayload, BlobIsCompactWithSortedKeysAndNoLanguageWhileItFollowsTheSystem) {
  test::SimServices world;
  EXPECT_EQ(
      SyncPayload::from(world.settings).blob(),
      R"({"excludedBundleIDs":[],"improveDataSharing":true,"interceptAppCycle":true,)"
      R"("interceptCmdTab":true,"paletteKeyCode":49,"paletteModifiers":2048,)"
      R"("showHiddenAppWindows":true,"showMinimizedWindows":true,"switcherUsesOption":false})");

  // Settings that stay on this machine never enter the blob.
  test::SimServices local(localSeed());
  local.settings.setSwitcherPaused(true);
  local.settings.setCrashReportingEnabled(false);
  local.settings.setOnboardingCompleted(true);
  auto expected = Json::parse(SyncPayload::from(local.settings).blob());
  EXPECT_EQ(expected.size(), prefkey::kSyncedSettingKeys.size());
  EXPECT_EQ(expected["languageCode"], "fr");

  // A string that is not UTF-8 cannot be encoded.
  local.settings.setExcludedBundleIDs({"org.\xff"});
  EXPECT_EQ(SyncPayload::from(local.settings).blob(), "{}");
}

TEST(SyncPayload, LanguageIsAlwaysWrittenEveryOtherFieldOnlyWhenPresent) {
  // Another machine's blob, and the language and flag it leaves here.
  const std::tuple<Json, std::optional<std::string>, bool> rows[] = {
      // Absent language: back to the system's. Absent flag: left as it was.
      {Json::object(), std::nullopt, false},
      {{{"languageCode", nullptr}}, std::nullopt, false},
      {{{"languageCode", "de"}, {"showMinimizedWindows", true}}, "de", true},
  };
  for (const auto& [remote, language, showMinimized] : rows) {
    test::SimServices world(localSeed());
    SyncPayload::decode(remote.dump(), world.log)->apply(world.settings);
    EXPECT_EQ(world.settings.languageCode(), language) << remote;
    EXPECT_EQ(world.settings.showMinimizedWindows(), showMinimized) << remote;
    EXPECT_EQ(world.settings.interceptCmdTab(), false) << remote;
  }
}

TEST(SyncPayload, ARemoteValueThisMachineCannotTakeIsRefusedForItsKeyAlone) {
  const std::string tooLong(256, 'a');
  // The key, the value this machine cannot take, and the reason logged.
  const std::tuple<const char*, Json, const char*> rows[] = {
      // Key codes: the table's 16 bits, and only keys with a name.
      {"paletteKeyCode", 0x10000, "out-of-range"},
      {"paletteKeyCode", -1, "out-of-range"},
      {"paletteKeyCode", 18446744073709551615ull, "out-of-range"},
      {"paletteKeyCode", 127, "unsupported"},
      {"paletteKeyCode", 49.0, "wrong-type"},
      // Modifiers: Carbon bits only, and at least one of them.
      {"paletteModifiers", 257, "out-of-range"},
      {"paletteModifiers", 0, "out-of-range"},
      // Languages: the fourteen codes, spelt exactly.
      {"languageCode", "xx", "unsupported"},
      {"languageCode", std::string(36, 'a'), "out-of-range"},
      {"languageCode", 5, "wrong-type"},
      // Identifiers: a list of at most 1,000 strings of at most 255 bytes.
      {"excludedBundleIDs", "org.a", "wrong-type"},
      {"excludedBundleIDs", {"org.a", 1}, "wrong-type"},
      {"excludedBundleIDs", Strings(1001, "org.a"), "out-of-range"},
      {"excludedBundleIDs", {tooLong}, "out-of-range"},
      {"interceptCmdTab", "true", "wrong-type"},
  };
  for (const auto& [key, value, reason] : rows) {
    test::SimServices world(localSeed());
    const auto before = Json::parse(SyncPayload::from(world.settings).blob());
    Json remote = kRemote;
    remote[key] = value;
    const auto payload = SyncPayload::decode(remote.dump(), world.log);
    ASSERT_TRUE(payload) << key << " " << value;
    payload->apply(world.settings);

    Json expected = kRemote;
    expected[key] = before[key];
    EXPECT_EQ(Json::parse(SyncPayload::from(world.settings).blob()), expected) << value;
    const std::string line = std::string("sync: rejected key=") + key + " reason=" + reason;
    EXPECT_EQ(world.logLines, Strings{line}) << value;
  }
}

TEST(SyncPayload, ABlobThatIsNoObjectOrTooLongIsUnreadableAsAWhole) {
  // Past the bound by its padding alone: the document itself would read.
  const std::string padded =
      R"({"languageCode":"de")" + std::string(SyncPayload::kMaxBlobBytes, ' ') + "}";
  const std::string rows[] = {"[]", "{", R"({"languageCode":"de"} {})",
                              // Bytes that are not UTF-8 make the document no JSON at all.
                              "{\"languageCode\":\"d\xff\"}", padded};
  for (const auto& blob : rows) {
    test::SimServices world;
    EXPECT_FALSE(SyncPayload::decode(blob, world.log)) << blob.substr(0, 40);
    EXPECT_TRUE(world.logLines.empty());
  }
}

}  // namespace
}  // namespace tolvane
