// The settings store, walked along its table: loading with defaults and ranges, the first-launch
// login item, what each setter stores and each setting's reaction.
#include "settings/app_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "backends/sim/faulty_file_system.h"
#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_login_items.h"
#include "backends/sim/sim_preference_store.h"
#include "backends/sim/sim_system_log.h"
#include "backends/system/posix_file_system.h"
#include "settings/preference_keys.h"
#include "settings/setting_table.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;
using OptValue = std::optional<PrefValue>;
using I64 = std::int64_t;
using S = AppSettings;

// One setting's typed getter and setter seen through PrefValue (nothing for a nil string), and
// the reaction each assignment of its default runs (the login item has its own tests).
struct Binding {
  template <typename T, typename A>
  Binding(SettingIndex setting, T (S::*getter)() const, void (S::*setter)(A), Strings reaction = {})
      : entry(settingEntry(setting)),
        get([getter](const S& s) { return asValue((s.*getter)()); }),
        set([setter](S& s, const OptValue& v) { (s.*setter)(asArgument<std::decay_t<A>>(v)); }),
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

  const SettingEntry& entry;
  std::function<OptValue(const S&)> get;
  std::function<void(S&, const OptValue&)> set;
  Strings reaction;
};
const Strings kUpdate = {"update enabled"};
const Strings kRegister = {"register 49/2048"};
// In the order of kSettingTable.
const Binding kBindings[] = {
    {prefkey::kOnboardingCompleted, &S::onboardingCompleted, &S::setOnboardingCompleted},
    {prefkey::kLaunchAtLogin, &S::launchAtLogin, &S::setLaunchAtLogin},
    {prefkey::kLanguageCode, &S::languageCode, &S::setLanguageCode},
    {prefkey::kInterceptCmdTab, &S::interceptCmdTab, &S::setInterceptCmdTab, kUpdate},
    {prefkey::kInterceptAppCycle, &S::interceptAppCycle, &S::setInterceptAppCycle, kUpdate},
    {prefkey::kShowMinimizedWindows, &S::showMinimizedWindows, &S::setShowMinimizedWindows},
    {prefkey::kShowHiddenAppWindows, &S::showHiddenAppWindows, &S::setShowHiddenAppWindows},
    {prefkey::kSwitcherUsesOption, &S::switcherUsesOption, &S::setSwitcherUsesOption, kUpdate},
    {prefkey::kPaletteKeyCode, &S::paletteKeyCode, &S::setPaletteKeyCode, kRegister},
    {prefkey::kPaletteModifiers, &S::paletteModifiers, &S::setPaletteModifiers, kRegister},
    {prefkey::kSwitcherPaused, &S::switcherPaused, &S::setSwitcherPaused, kUpdate},
    {prefkey::kExcludedBundleIDs, &S::excludedBundleIDs, &S::setExcludedBundleIDs},
    {prefkey::kCrashReportingEnabled, &S::crashReportingEnabled, &S::setCrashReportingEnabled},
    {prefkey::kImproveDataSharing, &S::improveDataSharing, &S::setImproveDataSharing},
};

// Values of the setting's type at both edges of what the table accepts.
std::vector<PrefValue> acceptedValues(const SettingEntry& entry) {
  const std::string longest(entry.maxLength, 'a');
  switch (entry.type) {
    case SettingType::boolean:
      return {true, false};
    case SettingType::integer:
      return {entry.min, entry.max};
    case SettingType::string:
      return {std::string(), longest};
    case SettingType::stringList:
      return {Strings{}, Strings(entry.maxItems, longest)};
  }
  return {};
}

// Values just beyond each edge of the range, then one value of every other type.
std::vector<PrefValue> rejectedValues(const SettingEntry& entry) {
  const std::string tooLong(entry.maxLength + 1, 'a');
  std::vector<PrefValue> rejected;
  if (entry.type == SettingType::integer) {
    if (entry.min > std::numeric_limits<I64>::min()) rejected.push_back(entry.min - 1);
    if (entry.max < std::numeric_limits<I64>::max()) rejected.push_back(entry.max + 1);
  }
  if (entry.type == SettingType::string) rejected = {tooLong};
  if (entry.type == SettingType::stringList) {
    rejected = {Strings(entry.maxItems + 1, "a"), Strings{"a", tooLong}};
  }
  for (PrefValue other :
       {PrefValue(true), PrefValue(I64(1)), PrefValue(std::string("1")), PrefValue(Strings{"1"})}) {
    if (other.index() != static_cast<std::size_t>(entry.type)) rejected.push_back(other);
  }
  return rejected;
}

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

// A failing login item service goes to the system log and keeps the user's choice.
TEST_F(AppSettingsTest, EmptyDomainYieldsDefaultsAndRegistersLoginItemOnceWhetherOrNotThatWorks) {
  ASSERT_EQ(std::size(kBindings), kSettingTable.size());
  for (const std::string failure : {"", "Operation not permitted"}) {
    SCOPED_TRACE(failure);
    loginItems = {};
    if (!failure.empty()) loginItems.failure = failure;
    systemLog.lines.clear();
    auto& s = create({});
    for (std::size_t i = 0; i < std::size(kBindings); ++i) {
      EXPECT_EQ(kBindings[i].entry.key, prefkey::kSettingKeys[i]) << "a row per setting, in order";
      EXPECT_EQ(kBindings[i].get(s), kSettingTable[i].defaultValue()) << kSettingTable[i].key;
    }
    EXPECT_EQ(store->snapshot(), (sim::SimPreferenceStore::Values{{"launchAtLogin", true}}));
    EXPECT_EQ(store->totalWrites(), 1);
    s.setLaunchAtLogin(false);
    EXPECT_FALSE(s.launchAtLogin());
    EXPECT_EQ(store->boolValue(prefkey::kLaunchAtLogin), false);
    EXPECT_EQ(loginItems.calls, (Strings{"register", "unregister"}));
    EXPECT_EQ(systemLog.lines, Strings(failure.empty() ? 0 : 2,
                                       "Tolvane: launch-at-login update failed: " + failure));
  }
}

TEST_F(AppSettingsTest, AStoredValueLoadsAsItselfOnlyWhenTheTableAcceptsIt) {
  for (const auto& row : kBindings) {
    const std::string key(row.entry.key);
    for (const auto& value : acceptedValues(row.entry)) {
      EXPECT_TRUE(row.entry.accepts(value)) << key;
      EXPECT_EQ(row.get(createSeen({{key, value}})), value) << key;
    }
    for (const auto& value : rejectedValues(row.entry)) {
      EXPECT_FALSE(row.entry.accepts(value)) << key;
      loginItems.calls.clear();
      EXPECT_EQ(row.get(createSeen({{key, value}})), row.entry.defaultValue()) << key;
      // Any stored launchAtLogin, even of a wrong type, means this is no first launch.
      EXPECT_EQ(store->totalWrites(), 0) << key;
      EXPECT_TRUE(loginItems.calls.empty()) << key;
    }
  }
}

TEST_F(AppSettingsTest, EverySetterWritesItsOwnKeyAndReactsEveryTime) {
  for (const auto& row : kBindings) {
    const std::string key(row.entry.key);
    auto& s = createSeen();
    auto values = acceptedValues(row.entry);
    for (const auto& value : values) {
      row.set(s, value);
      EXPECT_EQ(row.get(s), value) << key;
      EXPECT_EQ(store->value(key), value) << key << ": with its type";
    }
    row.set(s, row.entry.defaultValue());
    EXPECT_EQ(store->value(key), row.entry.defaultValue()) << key << ": nil removes the key";
    reactions.clear();
    row.set(s, row.entry.defaultValue());  // the same value again still writes and reacts
    EXPECT_EQ(reactions, row.reaction) << key;
    const int assignments = static_cast<int>(values.size()) + 2;
    EXPECT_EQ(store->writes(key) + store->removals(key), assignments) << key;
    EXPECT_EQ(store->totalWrites(), assignments) << key << ": no other key is written";
  }
}

TEST_F(AppSettingsTest, FollowingTheStoreTakesUpEveryChangedValueWithItsReaction) {
  for (const auto& row : kBindings) {
    const std::string key(row.entry.key);
    auto& s = createSeen();
    const auto values = acceptedValues(row.entry);
    const PrefValue changed =
        values.front() == row.entry.defaultValue() ? values.back() : values.front();
    int notified = 0;
    auto subscription = s.subscribe([&] { ++notified; });
    store->set(key, changed);  // as another program would write the file
    reactions.clear();
    EXPECT_TRUE(s.followStore()) << key;
    EXPECT_EQ(row.get(s), changed) << key;
    EXPECT_EQ(notified, 1) << key;
    if (row.entry.key != prefkey::kPaletteKeyCode && row.entry.key != prefkey::kPaletteModifiers &&
        row.entry.key != prefkey::kImproveDataSharing) {
      EXPECT_EQ(reactions, row.reaction) << key;
    }
    EXPECT_FALSE(s.followStore()) << key << ": nothing more to take up";
    store->set(key, rejectedValues(row.entry).front());
    EXPECT_TRUE(s.followStore()) << key;
    EXPECT_EQ(row.get(s), row.entry.defaultValue()) << key;
  }
}

TEST_F(AppSettingsTest, TurningDataSharingOffClearsTheQueueEveryTime) {
  auto& s = createSeen();  // assigning true clears nothing: kBindings covers that
  s.setImproveDataSharing(false);
  s.setImproveDataSharing(false);
  EXPECT_EQ(reactions, (Strings{"clear queue", "clear queue"}));
}

TEST_F(AppSettingsTest, PaletteHotKeyRegistersOnlyValuesTheTableAccepts) {
  const std::string no = "palette hotkey not registered: keyCode=";
  const std::tuple<I64, I64, std::string> rows[] = {
      {0, 256, "register 0/256"},
      {49, 0, no + "49 modifiers=0 out of range"},
      {4294967296, 2048, no + "4294967296 modifiers=2048 out of range"},
  };
  for (const auto& [keyCode, modifiers, outcome] : rows) {
    auto& s = createSeen();
    s.setPaletteKeyCode(keyCode);  // a setter stores whatever it is given
    reactions.clear();
    s.setPaletteModifiers(modifiers);
    EXPECT_EQ(reactions, Strings{outcome});
  }
  // A bare key in the file loads as the default, and why is said once.
  reactions.clear();
  auto& s = createSeen({{"paletteModifiers", I64(0)}});
  EXPECT_EQ(s.paletteModifiers(), 2048);
  EXPECT_FALSE(s.followStore());
  EXPECT_EQ(reactions, Strings{"setting refused key=paletteModifiers value=0: a hotkey needs a "
                               "modifier and only modifier bits, default kept"});
}

}  // namespace
}  // namespace tolvane
