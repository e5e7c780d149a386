// The user's settings: loaded once from the preference domain, written back on every change,
// and applied at once to the parts of the running system that depend on them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "diagnostics/debug_log.h"
#include "platform/login_items.h"
#include "platform/notifier.h"
#include "platform/preferences.h"
#include "platform/system_log.h"
#include "settings/setting_table.h"

namespace tolvane {

/// What a setting holds in memory: the preference domain's types, with a string that may be nil.
using SettingValue =
    std::variant<bool, std::int64_t, std::optional<std::string>, std::vector<std::string>>;

/// The single observable store of the user's preferences. Main thread only.
///
/// Every setter runs, in this order: the change notification, the in-memory store, the write
/// to the preference domain, then the setting's reaction. Setters never compare old and new
/// values, so re-assigning a value writes it again and runs its reaction again.
class AppSettings {
 public:
  /// The start of the system-log line written when the login item cannot be updated.
  static constexpr std::string_view kLoginItemFailurePrefix =
      "Tolvane: launch-at-login update failed: ";

  /// Loads every setting from `store`; a stored value kSettingTable does not accept counts as
  /// absent and yields the default. On a first launch (no "launchAtLogin" key at all) it
  /// also writes launchAtLogin = true and registers the login item.
  AppSettings(PreferenceStore& store, LoginItems& loginItems, SystemLog& systemLog,
              DebugLog& debugLog);
  AppSettings(const AppSettings&) = delete;
  AppSettings& operator=(const AppSettings&) = delete;

  /// Calls `handler` once before each change of any setting, while the getters still return
  /// the old value.
  [[nodiscard]] Notifier::Subscription subscribe(std::function<void()> handler);

  /// Called after a change of anything that decides whether the switcher intercepts keys.
  void setInterceptionChangedHook(std::function<void()> hook);
  /// Called after every change of languageCode, so the interface can switch to it at once.
  void setLanguageChangedHook(std::function<void()> hook);
  /// Registers the palette hotkey, replacing the one registered before.
  void setPaletteHotKeyRegistrar(
      std::function<void(std::uint32_t keyCode, std::uint32_t modifiers)> registrar);
  /// Empties the usage reporter's pending queue.
  void setUsageQueueClearer(std::function<void()> clearer);

  /// Registers the palette hotkey from paletteKeyCode and paletteModifiers. Values kSettingTable
  /// does not accept register nothing and leave one diagnostic line.
  void applyPaletteHotKey();

  /// Takes up every value the store now holds that differs from memory (the preference file
  /// was changed by another program or by hand): each one through its setter, so observers
  /// hear of it and it takes effect at once. Values the table does not accept count as the
  /// default, as at loading. Returns whether anything changed.
  bool followStore();

  /// The first-run onboarding has been finished.
  bool onboardingCompleted() const { return get<bool>(prefkey::kOnboardingCompleted); }
  void setOnboardingCompleted(bool value);
  /// The application is registered to start at login.
  bool launchAtLogin() const { return get<bool>(prefkey::kLaunchAtLogin); }
  void setLaunchAtLogin(bool value);
  /// The chosen interface language; nothing means the interface follows the system language.
  const std::optional<std::string>& languageCode() const {
    return get<std::optional<std::string>>(prefkey::kLanguageCode);
  }
  void setLanguageCode(std::optional<std::string> value);
  /// The switcher takes over the all-windows binding.
  bool interceptCmdTab() const { return get<bool>(prefkey::kInterceptCmdTab); }
  void setInterceptCmdTab(bool value);
  /// The switcher takes over the same-application binding.
  bool interceptAppCycle() const { return get<bool>(prefkey::kInterceptAppCycle); }
  void setInterceptAppCycle(bool value);
  /// Minimized windows are listed.
  bool showMinimizedWindows() const { return get<bool>(prefkey::kShowMinimizedWindows); }
  void setShowMinimizedWindows(bool value);
  /// Windows of hidden applications are listed.
  bool showHiddenAppWindows() const { return get<bool>(prefkey::kShowHiddenAppWindows); }
  void setShowHiddenAppWindows(bool value);
  /// The switcher is driven by Option instead of Command.
  bool switcherUsesOption() const { return get<bool>(prefkey::kSwitcherUsesOption); }
  void setSwitcherUsesOption(bool value);
  /// Virtual key code of the palette hotkey. The setter takes any value; only loading and
  /// registration check the range.
  std::int64_t paletteKeyCode() const { return get<std::int64_t>(prefkey::kPaletteKeyCode); }
  void setPaletteKeyCode(std::int64_t value);
  /// Modifier mask of the palette hotkey (Command 256, Shift 512, Option 2048, Control 4096).
  std::int64_t paletteModifiers() const { return get<std::int64_t>(prefkey::kPaletteModifiers); }
  void setPaletteModifiers(std::int64_t value);
  /// The user has paused the switcher from the menu.
  bool switcherPaused() const { return get<bool>(prefkey::kSwitcherPaused); }
  void setSwitcherPaused(bool value);
  /// Bundle identifiers whose windows never appear.
  const std::vector<std::string>& excludedBundleIDs() const {
    return get<std::vector<std::string>>(prefkey::kExcludedBundleIDs);
  }
  void setExcludedBundleIDs(std::vector<std::string> value);
  /// Crash reports may be sent.
  bool crashReportingEnabled() const { return get<bool>(prefkey::kCrashReportingEnabled); }
  void setCrashReportingEnabled(bool value);
  /// Anonymous usage events may be sent.
  bool improveDataSharing() const { return get<bool>(prefkey::kImproveDataSharing); }
  void setImproveDataSharing(bool value);

 private:
  template <typename T>
  const T& get(SettingIndex setting) const {
    return std::get<T>(values_[setting.value]);
  }
  void assign(SettingIndex setting, SettingValue value);
  void applyLaunchAtLogin();
  void followChange(std::size_t index, SettingValue value);
  void reportRefused(const SettingEntry& entry, const PrefValue& stored);
  void interceptionChanged();

  PreferenceStore& store_;
  LoginItems& loginItems_;
  SystemLog& systemLog_;
  DebugLog& debugLog_;
  Notifier changed_;
  // In the order of kSettingTable; each holds the type its entry names.
  std::array<SettingValue, kSettingTable.size()> values_;
  std::function<void()> interceptionChangedHook_;
  std::function<void()> languageChangedHook_;
  std::function<void(std::uint32_t, std::uint32_t)> paletteHotKeyRegistrar_;
  std::function<void()> usageQueueClearer_;
};

}  // namespace tolvane
