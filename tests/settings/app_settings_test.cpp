// The settings store: loading with defaults, the first-launch login item, the order of a
// setter's steps, and each setting's reaction.
#include "settings/app_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "platform/sim/faulty_file_system.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_login_items.h"
#include "platform/sim/sim_preference_store.h"
#include "platform/sim/sim_system_log.h"
#include "platform/system/posix_file_system.h"
#include "settings/preference_keys.h"
#include "settings/setting_table.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;
using OptValue = std::optional<PrefValue>;
using I64 = std::int64_t;
using S = AppSettings;

// One setting: its getter and setter seen through PrefValue (nothing for a nil language), its
// default, another value of its type, a value of a wrong type, and the reaction that every
// assignment runs (the login item has its own tests).
struct Setting {
  template <typename T, typename A>
  Setting(T (S::*getter)() const, void (S::*setter)(A), OptValue byDefault, PrefValue other,
          PrefValue wrongType, Strings reaction = {})
      : get([getter](const S& s) { return asValue((s.*getter)()); }),
        set([setter](S& s, const OptValue& v) { (s.*setter)(asArgument<std::decay_t<A>>(v)); }),
        byDefault(byDefault),
        other(other),
        wrongType(wrongType),
        reaction(reaction) {}

  static OptValue asValue(const std::optional<std::string>& v) { return v ? OptValue(*v) : v; }
  static OptValue asValue(const auto& v) { return PrefValue(v); }
  template <typename A>
  static A asArgument(const OptValue& v) {
    if constexpr (std::is_same_v<A, std::optional<std::string>>) {
      return v ? A(std::get<std::string>(*v)) : A();
    } else {
      return std::get<A>(*v);
    }
  }

  std::function<OptValue(const S&)> get;
  std::function<void(S&, const OptValue&)> set;
  OptValue byDefault;
  PrefValue other, wrongType;
  Strings reaction;
};
const Strings kUpdate = {"update enabled"};
const Strings kRegister = {"register 49/2048"};
const std::string kYes = "YES";
// In the order of prefkey::kSettingKeys, which names each row's key.
const Setting kSettings[] = {
    {&S::onboardingCompleted, &S::setOnboardingCompleted, false, true, kYes},
    {&S::launchAtLogin, &S::setLaunchAtLogin, true, false, I64(0)},
    {&S::languageCode, &S::setLanguageCode, std::nullopt, std::string("ja"), Strings{"ja"}},
    {&S::interceptCmdTab, &S::setInterceptCmdTab, true, false, I64(0), kUpdate},
    {&S::interceptAppCycle, &S::setInterceptAppCycle, true, false, kYes, kUpdate},
    {&S::showMinimizedWindows, &S::setShowMinimizedWindows, true, false, Strings{}},
    {&S::showHiddenAppWindows, &S::setShowHiddenAppWindows, true, false, I64(0)},
    {&S::switcherUsesOption, &S::setSwitcherUsesOption, false, true, I64(1), kUpdate},
    {&S::paletteKeyCode, &S::setPaletteKeyCode, I64(49), I64(36), kYes, kRegister},
    {&S::paletteModifiers, &S::setPaletteModifiers, I64(2048), I64(-3), true, kRegister},
    {&S::switcherPaused, &S::setSwitcherPaused, false, true, kYes, kUpdate},
    {&S::excludedBundleIDs, &S::setExcludedBundleIDs, Strings{}, Strings{"x.y", "z"}, kYes},
    {&S::crashReportingEnabled, &S::setCrashReportingEnabled, true, false, Strings{"0"}},
    {&S::improveDataSharing, &S::setImproveDataSharing, true, false, I64(0)},
};

class AppSettingsTest : public ::testing::Test {
 protected:
  AppSettingsTest() {
    noDisk.failCreates = true;  // the log never reaches a disk; the observer sees every line
    debugLog.setObserver([this](std::string_view line) {
      reactions.emplace_back(line.substr(line.find(' ') + 1));  // without the timestamp
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
  sim::SimLoginItems loginItems;
  sim::SimSystemLog systemLog;
  std::unique_ptr<sim::SimPreferenceStore> store;
  std::unique_ptr<AppSettings> settings;
  Strings reactions;  // what the hooks were asked to do and the log lines, in order
};

TEST_F(AppSettingsTest, EmptyDomainYieldsDefaultsAndRegistersLoginItemOnce) {
  auto& s = create({});
  ASSERT_EQ(std::size(kSettings), prefkey::kSettingKeys.size());
  for (std::size_t i = 0; i < std::size(kSettings); ++i) {
    EXPECT_EQ(kSettings[i].get(s), kSettings[i].byDefault) << prefkey::kSettingKeys[i];
  }
  EXPECT_EQ(store->snapshot(), (sim::SimPreferenceStore::Values{{"launchAtLogin", true}}));
  EXPECT_EQ(store->totalWrites(), 1);
  EXPECT_EQ(loginItems.calls, Strings{"register"});
  EXPECT_TRUE(systemLog.lines.empty());
}

TEST_F(AppSettingsTest, EachSettingLoadsItsTypeAndWritesItsOwnKeyAndReactsEveryTime) {
  for (std::size_t i = 0; i < std::size(kSettings); ++i) {
    const auto& row = kSettings[i];
    const std::string key(prefkey::kSettingKeys[i]);
    loginItems.calls.clear();
    // Any other type counts as absent and yields the default.
    EXPECT_EQ(row.get(createSeen({{key, row.wrongType}})), row.byDefault) << key;
    auto& s = createSeen({{key, row.other}});
    EXPECT_EQ(row.get(s), row.other) << key;
    // Any stored launchAtLogin, even false or of a wrong type, means this is no first launch.
    EXPECT_EQ(store->totalWrites(), 0) << key;
    EXPECT_TRUE(loginItems.calls.empty()) << key;
    row.set(s, row.byDefault);
    EXPECT_EQ(row.get(s), row.byDefault) << key;
    EXPECT_EQ(store->value(key), row.byDefault) << key << ": with its type; nil removes the key";
    reactions.clear();
    row.set(s, row.byDefault);  // the same value again still writes and reacts
    EXPECT_EQ(reactions, row.reaction) << key;
    EXPECT_EQ(store->writes(key) + store->removals(key), 2) << key;
    EXPECT_EQ(store->totalWrites(), 2) << key << ": no other key is written";
  }
}

TEST_F(AppSettingsTest, NotificationPrecedesStoreAndWriteWhichPrecedeTheReaction) {
  auto& s = createSeen();
  // What each one sees: the property, then the stored value.
  auto seen = [&](const char* who) {
    reactions.push_back(who + std::to_string(s.switcherPaused()) +
                        std::to_string(store->boolValue(prefkey::kSwitcherPaused).value_or(0)));
  };
  auto first = s.subscribe([&] { seen("first "); });
  auto second = s.subscribe([&] { seen("second "); });
  s.setInterceptionChangedHook([&] { seen("hook "); });
  s.setSwitcherPaused(true);
  second.cancel();  // the same value again notifies again; an ended subscription hears nothing
  s.setSwitcherPaused(true);
  EXPECT_EQ(reactions, (Strings{"first 00", "second 00", "hook 11", "first 11", "hook 11"}));
}

TEST_F(AppSettingsTest, TurningDataSharingOffClearsTheQueueEveryTime) {
  auto& s = createSeen();  // assigning true clears nothing: kSettings covers that
  s.setImproveDataSharing(false);
  s.setImproveDataSharing(false);
  EXPECT_EQ(reactions, (Strings{"clear queue", "clear queue"}));
}

TEST_F(AppSettingsTest, PaletteHotKeyRegistersOnlyValuesInTheUnsigned32BitRange) {
  const std::string no = "palette hotkey not registered: keyCode=";
  const std::tuple<I64, I64, std::string> rows[] = {
      {0, 0, "register 0/0"},
      {4294967295, 4294967295, "register 4294967295/4294967295"},
      {-1, 2048, no + "-1 modifiers=2048 out of range"},
      {49, 4294967296, no + "49 modifiers=4294967296 out of range"},
  };
  for (const auto& [keyCode, modifiers, outcome] : rows) {
    auto& s = createSeen({{"paletteKeyCode", keyCode}, {"paletteModifiers", modifiers}});
    reactions.clear();
    s.applyPaletteHotKey();
    EXPECT_EQ(reactions, Strings{outcome});
  }
}

TEST_F(AppSettingsTest, LoginItemFailureGoesToTheSystemLogAndKeepsTheChoice) {
  loginItems.failure = "Operation not permitted";
  auto& s = create({});
  EXPECT_TRUE(s.launchAtLogin());
  s.setLaunchAtLogin(false);
  EXPECT_FALSE(s.launchAtLogin());
  EXPECT_EQ(store->boolValue(prefkey::kLaunchAtLogin), false);
  EXPECT_EQ(loginItems.calls, (Strings{"register", "unregister"}));
  EXPECT_EQ(systemLog.lines,
            Strings(2, "Tolvane: launch-at-login update failed: Operation not permitted"));
}

}  // namespace
}  // namespace tolvane
