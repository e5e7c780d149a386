// The settings store: loading with defaults, the first-launch login item, the order of a
// setter's steps, and each setting's reaction.
#include "app/app_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/preference_keys.h"
#include "platform/sim/faulty_file_system.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_login_items.h"
#include "platform/sim/sim_preference_store.h"
#include "platform/sim/sim_system_log.h"
#include "platform/system/posix_file_system.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;
using OptValue = std::optional<PrefValue>;

// Each setting as a PrefValue, so one table can cover all of them; nothing for a nil language.
OptValue propertyOf(const AppSettings& s, std::string_view key) {
  using namespace prefkey;
  if (key == kOnboardingCompleted) return s.onboardingCompleted();
  if (key == kLaunchAtLogin) return s.launchAtLogin();
  if (key == kLanguageCode) return s.languageCode() ? OptValue(*s.languageCode()) : std::nullopt;
  if (key == kInterceptCmdTab) return s.interceptCmdTab();
  if (key == kInterceptAppCycle) return s.interceptAppCycle();
  if (key == kShowMinimizedWindows) return s.showMinimizedWindows();
  if (key == kShowHiddenAppWindows) return s.showHiddenAppWindows();
  if (key == kSwitcherUsesOption) return s.switcherUsesOption();
  if (key == kPaletteKeyCode) return s.paletteKeyCode();
  if (key == kPaletteModifiers) return s.paletteModifiers();
  if (key == kSwitcherPaused) return s.switcherPaused();
  if (key == kExcludedBundleIDs) return s.excludedBundleIDs();
  if (key == kCrashReportingEnabled) return s.crashReportingEnabled();
  if (key == kImproveDataSharing) return s.improveDataSharing();
  ADD_FAILURE() << "no property for " << key;
  return std::nullopt;
}

void assignByKey(AppSettings& s, std::string_view key, const OptValue& v) {
  using namespace prefkey;
  if (key == kLanguageCode) {
    return s.setLanguageCode(v ? std::optional(std::get<std::string>(*v)) : std::nullopt);
  }
  if (key == kPaletteKeyCode) return s.setPaletteKeyCode(std::get<std::int64_t>(*v));
  if (key == kPaletteModifiers) return s.setPaletteModifiers(std::get<std::int64_t>(*v));
  if (key == kExcludedBundleIDs) return s.setExcludedBundleIDs(std::get<Strings>(*v));
  const std::map<std::string_view, void (AppSettings::*)(bool)> flags = {
      {kOnboardingCompleted, &AppSettings::setOnboardingCompleted},
      {kLaunchAtLogin, &AppSettings::setLaunchAtLogin},
      {kInterceptCmdTab, &AppSettings::setInterceptCmdTab},
      {kInterceptAppCycle, &AppSettings::setInterceptAppCycle},
      {kShowMinimizedWindows, &AppSettings::setShowMinimizedWindows},
      {kShowHiddenAppWindows, &AppSettings::setShowHiddenAppWindows},
      {kSwitcherUsesOption, &AppSettings::setSwitcherUsesOption},
      {kSwitcherPaused, &AppSettings::setSwitcherPaused},
      {kCrashReportingEnabled, &AppSettings::setCrashReportingEnabled},
      {kImproveDataSharing, &AppSettings::setImproveDataSharing}};
  (s.*flags.at(key))(std::get<bool>(*v));
}

class AppSettingsTest : public ::testing::Test {
 protected:
  AppSettingsTest() {
    // The log never reaches a disk here; the observer still sees every line.
    noDisk.failCreates = true;
    debugLog.setObserver([this](std::string_view line) {
      logLines.emplace_back(line.substr(line.find(' ') + 1));  // without the timestamp
    });
  }

  // Builds the store over `seed`, with every hook recording its calls.
  AppSettings& create(sim::SimPreferenceStore::Values seed) {
    settings.reset();
    store = std::make_unique<sim::SimPreferenceStore>(std::move(seed));
    settings = std::make_unique<AppSettings>(*store, loginItems, systemLog, debugLog);
    settings->setInterceptionChangedHook([this] { reactions.push_back("update enabled"); });
    settings->setPaletteHotKeyRegistrar([this](std::uint32_t key, std::uint32_t mods) {
      reactions.push_back("register " + std::to_string(key) + "/" + std::to_string(mods));
    });
    settings->setUsageQueueClearer([this] { reactions.push_back("clear queue"); });
    return *settings;
  }
  // A later launch: "launchAtLogin" is present, so creation has no side effects.
  AppSettings& createSeen(sim::SimPreferenceStore::Values seed = {}) {
    seed.emplace(prefkey::kLaunchAtLogin, true);
    return create(std::move(seed));
  }

  system::PosixFileSystem disk;
  sim::FaultyFileSystem noDisk{disk};
  sim::SimClock clock;
  DebugLog debugLog{noDisk, clock, "/nonexistent/tolvane-tests"};
  Strings logLines;
  sim::SimLoginItems loginItems;
  sim::SimSystemLog systemLog;
  std::unique_ptr<sim::SimPreferenceStore> store;
  std::unique_ptr<AppSettings> settings;
  Strings reactions;  // what the hooks were asked to do, in order
};

// Every setting with its default, another value of its type, a value of a wrong type, and the
// reaction that re-assigning the default must still run (the login item has its own tests).
struct SettingRow {
  std::string_view key;
  OptValue byDefault;
  PrefValue other;
  PrefValue wrongType;
  Strings reaction;
};
const SettingRow kSettings[] = {
    {prefkey::kOnboardingCompleted, false, true, std::string("YES"), {}},
    {prefkey::kLaunchAtLogin, true, false, std::int64_t{0}, {}},
    {prefkey::kLanguageCode, std::nullopt, std::string("ja"), Strings{"ja"}, {}},
    {prefkey::kInterceptCmdTab, true, false, std::int64_t{0}, {"update enabled"}},
    {prefkey::kInterceptAppCycle, true, false, std::string("false"), {"update enabled"}},
    {prefkey::kShowMinimizedWindows, true, false, Strings{}, {}},
    {prefkey::kShowHiddenAppWindows, true, false, std::int64_t{0}, {}},
    {prefkey::kSwitcherUsesOption, false, true, std::int64_t{1}, {"update enabled"}},
    {prefkey::kPaletteKeyCode,
     std::int64_t{49},
     std::int64_t{36},
     std::string("36"),
     {"register 49/2048"}},
    {prefkey::kPaletteModifiers, std::int64_t{2048}, std::int64_t{-3}, true, {"register 49/2048"}},
    {prefkey::kSwitcherPaused, false, true, std::string("YES"), {"update enabled"}},
    {prefkey::kExcludedBundleIDs, Strings{}, Strings{"x.y", "z"}, std::string("x.y"), {}},
    {prefkey::kCrashReportingEnabled, true, false, Strings{"false"}, {}},
    {prefkey::kImproveDataSharing, true, false, std::int64_t{0}, {}},
};

TEST_F(AppSettingsTest, EmptyDomainYieldsDefaultsAndRegistersLoginItemOnce) {
  auto& s = create({});
  ASSERT_EQ(std::size(kSettings), prefkey::kSettingKeys.size());
  for (const auto& row : kSettings) EXPECT_EQ(propertyOf(s, row.key), row.byDefault) << row.key;
  EXPECT_EQ(store->snapshot(), (sim::SimPreferenceStore::Values{{"launchAtLogin", true}}));
  EXPECT_EQ(store->totalWrites(), 1);
  EXPECT_EQ(loginItems.calls, Strings{"register"});
  EXPECT_TRUE(systemLog.lines.empty());
}

TEST_F(AppSettingsTest, EverySetterWritesItsOwnKeyWithItsType) {
  for (const auto& row : kSettings) {
    auto& s = createSeen();
    assignByKey(s, row.key, row.other);
    EXPECT_EQ(propertyOf(s, row.key), row.other) << row.key;
    EXPECT_EQ(store->value(row.key), row.other) << row.key;
    EXPECT_EQ(store->totalWrites(), 1) << row.key << " writes only its own key";
  }
}

TEST_F(AppSettingsTest, OnlyAnAbsentLaunchAtLoginKeyTouchesTheLoginItem) {
  struct Row {
    const char* what;
    OptValue stored;
    bool expected;
    int writes;
    Strings calls;
  };
  const Row rows[] = {
      {"absent: first launch", std::nullopt, true, 1, {"register"}},
      {"stored true", true, true, 0, {}},
      {"stored false", false, false, 0, {}},
      // Present but of the wrong type: the default applies, yet this is no first launch.
      {"stored as a string", std::string("yes"), true, 0, {}},
  };
  for (const auto& row : rows) {
    loginItems.calls.clear();
    sim::SimPreferenceStore::Values seed;
    if (row.stored) seed.emplace(prefkey::kLaunchAtLogin, *row.stored);
    auto& s = create(seed);
    EXPECT_EQ(s.launchAtLogin(), row.expected) << row.what;
    EXPECT_EQ(store->writes(prefkey::kLaunchAtLogin), row.writes) << row.what;
    EXPECT_EQ(loginItems.calls, row.calls) << row.what;
  }
}

TEST_F(AppSettingsTest, StoredValuesLoadOnlyWithTheirOwnType) {
  for (const auto& row : kSettings) {
    const std::string key(row.key);
    EXPECT_EQ(propertyOf(createSeen({{key, row.other}}), row.key), row.other) << key;
    // Any other type counts as absent and yields the default.
    EXPECT_EQ(propertyOf(createSeen({{key, row.wrongType}}), row.key), row.byDefault) << key;
    EXPECT_EQ(store->totalWrites(), 0) << "loading never writes";
  }
}

TEST_F(AppSettingsTest, NotificationPrecedesStoreAndWriteWhichPrecedeTheReaction) {
  auto& s = createSeen();
  Strings trace;
  auto seen = [&](const char* who) {
    trace.push_back(std::string(who) + " property=" + (s.switcherPaused() ? "1" : "0") +
                    " stored=" + (store->boolValue(prefkey::kSwitcherPaused) ? "1" : "-"));
  };
  auto first = s.subscribe([&] { seen("first"); });
  auto second = s.subscribe([&] { seen("second"); });
  s.setInterceptionChangedHook([&] { seen("hook"); });

  s.setSwitcherPaused(true);
  EXPECT_EQ(trace, (Strings{"first property=0 stored=-", "second property=0 stored=-",
                            "hook property=1 stored=1"}));

  // The same value again notifies again; an ended subscription hears nothing more.
  second.cancel();
  trace.clear();
  s.setSwitcherPaused(true);
  EXPECT_EQ(trace, (Strings{"first property=1 stored=1", "hook property=1 stored=1"}));
}

TEST_F(AppSettingsTest, ReassigningTheCurrentValueStillWritesAndReacts) {
  for (const auto& row : kSettings) {
    auto& s = createSeen();
    reactions.clear();
    assignByKey(s, row.key, row.byDefault);
    EXPECT_EQ(reactions, row.reaction) << row.key;
    EXPECT_EQ(store->writes(row.key) + store->removals(row.key), 1) << row.key;
  }
}

TEST_F(AppSettingsTest, TurningDataSharingOffClearsTheQueueEveryTime) {
  auto& s = createSeen();
  s.setImproveDataSharing(true);
  EXPECT_TRUE(reactions.empty());
  s.setImproveDataSharing(false);
  s.setImproveDataSharing(false);
  EXPECT_EQ(reactions, (Strings{"clear queue", "clear queue"}));
}

TEST_F(AppSettingsTest, NilLanguageRemovesTheKey) {
  auto& s = createSeen({{"languageCode", std::string("fr")}});
  s.setLanguageCode(std::nullopt);
  EXPECT_EQ(store->value(prefkey::kLanguageCode), std::nullopt);
  EXPECT_EQ(store->removals(prefkey::kLanguageCode), 1);
  EXPECT_EQ(store->writes(prefkey::kLanguageCode), 0) << "never an empty string";
  EXPECT_EQ(s.languageCode(), std::nullopt);
}

TEST_F(AppSettingsTest, PaletteHotKeyRegistersOnlyValuesInTheUnsigned32BitRange) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  struct Row {
    std::int64_t keyCode, modifiers;
    std::string outcome;
  };
  const Row rows[] = {
      {49, 2048, "register 49/2048"},
      {0, 0, "register 0/0"},
      {4294967295, 4294967295, "register 4294967295/4294967295"},
      {-1, 2048, "palette hotkey not registered: keyCode=-1 modifiers=2048 out of range"},
      {49, 4294967296,
       "palette hotkey not registered: keyCode=49 modifiers=4294967296 out of range"},
      {kMin, kMax,
       "palette hotkey not registered: keyCode=-9223372036854775808 "
       "modifiers=9223372036854775807 out of range"},
  };
  for (const auto& row : rows) {
    logLines.clear();
    auto& s = createSeen({{"paletteKeyCode", row.keyCode}, {"paletteModifiers", row.modifiers}});
    reactions.clear();
    s.applyPaletteHotKey();
    Strings outcome = reactions;
    outcome.insert(outcome.end(), logLines.begin(), logLines.end());
    EXPECT_EQ(outcome, Strings{row.outcome});
  }
}

TEST_F(AppSettingsTest, LoginItemFailureGoesToTheSystemLogAndKeepsTheChoice) {
  loginItems.failure = "Operation not permitted";
  const std::string line = "Tolvane: launch-at-login update failed: Operation not permitted";

  auto& first = create({});
  EXPECT_TRUE(first.launchAtLogin());
  EXPECT_EQ(systemLog.lines, Strings{line});

  systemLog.lines.clear();
  loginItems.calls.clear();
  auto& later = createSeen();
  later.setLaunchAtLogin(false);
  EXPECT_EQ(loginItems.calls, Strings{"unregister"});
  EXPECT_EQ(systemLog.lines, Strings{line});
  EXPECT_FALSE(later.launchAtLogin());
  EXPECT_EQ(store->boolValue(prefkey::kLaunchAtLogin), false);
}

}  // namespace
}  // namespace tolvane
