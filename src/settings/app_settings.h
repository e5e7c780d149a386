// The user's settings: loaded once from the preference domain, written back on every change,
// and applied at once to the parts of the running system that depend on them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/debug_log.h"
#include "platform/account_services.h"
#include "platform/notifier.h"
#include "platform/preferences.h"

namespace tolvane {

/// The single observable store of the user's preferences. Main thread only.
///
/// Every setter runs, in this order: the change notification, the in-memory store, the write
/// to the preference domain, then the setting's reaction. Setters never compare old and new
/// values, so re-assigning a value writes it again and runs its reaction again.
class AppSettings {
 public:
  static constexpr std::int64_t kDefaultPaletteKeyCode = 49;      // Space
  static constexpr std::int64_t kDefaultPaletteModifiers = 2048;  // Option
  /// The start of the system-log line written when the login item cannot be updated.
  static constexpr std::string_view kLoginItemFailurePrefix =
      "Tolvane: launch-at-login update failed: ";

  /// Loads every setting from `store`. On a first launch (no "launchAtLogin" key at all) it
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
  /// Registers the palette hotkey, replacing the one registered before.
  void setPaletteHotKeyRegistrar(
      std::function<void(std::uint32_t keyCode, std::uint32_t modifiers)> registrar);
  /// Empties the usage reporter's pending queue.
  void setUsageQueueClearer(std::function<void()> clearer);

  /// Registers the palette hotkey from paletteKeyCode and paletteModifiers. Values outside the
  /// unsigned 32-bit range register nothing and leave one diagnostic line.
  void applyPaletteHotKey();

  /// The first-run onboarding has been finished.
  bool onboardingCompleted() const { return values_.onboardingCompleted; }
  void setOnboardingCompleted(bool value);
  /// The application is registered to start at login.
  bool launchAtLogin() const { return values_.launchAtLogin; }
  void setLaunchAtLogin(bool value);
  /// The chosen interface language; nothing means the interface follows the system language.
  const std::optional<std::string>& languageCode() const { return values_.languageCode; }
  void setLanguageCode(std::optional<std::string> value);
  /// The switcher takes over the all-windows binding.
  bool interceptCmdTab() const { return values_.interceptCmdTab; }
  void setInterceptCmdTab(bool value);
  /// The switcher takes over the same-application binding.
  bool interceptAppCycle() const { return values_.interceptAppCycle; }
  void setInterceptAppCycle(bool value);
  /// Minimized windows are listed.
  bool showMinimizedWindows() const { return values_.showMinimizedWindows; }
  void setShowMinimizedWindows(bool value);
  /// Windows of hidden applications are listed.
  bool showHiddenAppWindows() const { return values_.showHiddenAppWindows; }
  void setShowHiddenAppWindows(bool value);
  /// The switcher is driven by Option instead of Command.
  bool switcherUsesOption() const { return values_.switcherUsesOption; }
  void setSwitcherUsesOption(bool value);
  /// Virtual key code of the palette hotkey. Not range-checked: synced or hand-edited values
  /// may lie outside what a hotkey can take.
  std::int64_t paletteKeyCode() const { return values_.paletteKeyCode; }
  void setPaletteKeyCode(std::int64_t value);
  /// Modifier mask of the palette hotkey (Command 256, Shift 512, Option 2048, Control 4096).
  std::int64_t paletteModifiers() const { return values_.paletteModifiers; }
  void setPaletteModifiers(std::int64_t value);
  /// The user has paused the switcher from the menu.
  bool switcherPaused() const { return values_.switcherPaused; }
  void setSwitcherPaused(bool value);
  /// Bundle identifiers whose windows never appear.
  const std::vector<std::string>& excludedBundleIDs() const { return values_.excludedBundleIDs; }
  void setExcludedBundleIDs(std::vector<std::string> value);
  /// Crash reports may be sent.
  bool crashReportingEnabled() const { return values_.crashReportingEnabled; }
  void setCrashReportingEnabled(bool value);
  /// Anonymous usage events may be sent.
  bool improveDataSharing() const { return values_.improveDataSharing; }
  void setImproveDataSharing(bool value);

 private:
  // The member initialisers are the defaults used when a key is absent or of the wrong type.
  struct Values {
    bool onboardingCompleted = false;
    bool launchAtLogin = true;
    std::optional<std::string> languageCode;
    bool interceptCmdTab = true;
    bool interceptAppCycle = true;
    bool showMinimizedWindows = true;
    bool showHiddenAppWindows = true;
    bool switcherUsesOption = false;
    std::int64_t paletteKeyCode = kDefaultPaletteKeyCode;
    std::int64_t paletteModifiers = kDefaultPaletteModifiers;
    bool switcherPaused = false;
    std::vector<std::string> excludedBundleIDs;
    bool crashReportingEnabled = true;
    bool improveDataSharing = true;
  };

  static Values load(const PreferenceStore& store);
  template <typename T>
  void assign(T Values::*field, T value, std::string_view key);
  void applyLaunchAtLogin();
  void interceptionChanged();

  PreferenceStore& store_;
  LoginItems& loginItems_;
  SystemLog& systemLog_;
  DebugLog& debugLog_;
  Notifier changed_;
  Values values_;
  std::function<void()> interceptionChangedHook_;
  std::function<void(std::uint32_t, std::uint32_t)> paletteHotKeyRegistrar_;
  std::function<void()> usageQueueClearer_;
};

}  // namespace tolvane
