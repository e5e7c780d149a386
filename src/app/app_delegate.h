// The application: builds every long-lived component from one backend's services, starts them
// in their fixed order, warms the window caches before the switcher may take the keyboard,
// answers URL events, and gives the system its hotkeys back on quit.
#pragma once

#include <string>

#include "base/task.h"
#include "cloud/cloud_account.h"
#include "cloud/cloud_sync.h"
#include "diagnostics/debug_log.h"
#include "focus/mru_tracker.h"
#include "focus/window_activator.h"
#include "hud/switcher_controller.h"
#include "input/global_hotkey.h"
#include "input/native_switcher_guard.h"
#include "input/switcher_engine.h"
#include "localization/framework_language.h"
#include "localization/l10n.h"
#include "menu/status_item_controller.h"
#include "onboarding/onboarding_window_controller.h"
#include "palette/palette_controller.h"
#include "platform/services.h"
#include "reporting/crash_reporter.h"
#include "reporting/improve_reporter.h"
#include "reporting/tester_mode.h"
#include "settings/app_settings.h"
#include "settings_window/settings_window_controller.h"
#include "updates/update_controller.h"
#include "windows/background_refresh.h"
#include "windows/permissions.h"
#include "windows/space_window_resolver.h"
#include "windows/window_enumerator.h"

namespace tolvane {

/// Copies the chosen interface language to the platform-facing language list, or removes a
/// stale list when the interface follows the system.
void prepareLanguage(PreferenceStore& preferences);

/// The process-wide preparations that come before the application object exists: the language
/// list, and the last-resort hotkey restore (which must then outlive the process).
void prepareProcess(Services& services);

/// Main thread only. Owns one of each component; they live as long as the process.
class AppDelegate {
 public:
  static constexpr double kLaunchMessagingTimeout = 0.3;
  static constexpr double kRunningMessagingTimeout = 0.1;
  static constexpr double kWarmUpDeadlineSeconds = 0.5;

  /// `watchdogSleep` is how the stall watchdog's thread waits between its checks.
  AppDelegate(Services& services, DebugLog& log, std::function<void(double)> watchdogSleep);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  void applicationDidFinishLaunching();
  void applicationWillTerminate();
  /// A URL delivered through the application's URL scheme.
  void handleURL(const std::string& url);
  /// Runs after the switcher has followed a change of the interception settings; a backend
  /// whose key grabs depend on them re-grabs here.
  void setInterceptionObserver(std::function<void()> observer) {
    interceptionObserver_ = std::move(observer);
  }

  /// The global hotkey and the tray's click: closes an open palette, opens a closed one.
  void togglePalette();
  /// The tray menu's palette entry: opens the palette, or reloads it when it is open.
  void showPalette();
  /// The palette hot key (registration state, refusal, an observer of both); nothing when the
  /// backend has no hot keys.
  GlobalHotKey* paletteHotKey() { return hotKey_ ? &*hotKey_ : nullptr; }
  const GlobalHotKey* paletteHotKey() const { return hotKey_ ? &*hotKey_ : nullptr; }

  /// Opens the settings window (or brings it forward), on `tab` when given; logs why not on a
  /// desktop without one.
  void showSettings(std::optional<SettingsTab> tab = std::nullopt);
  /// Opens the getting-started guide, from its first page or from the requirements page.
  void showOnboarding(bool startAtPermissions = false);
  /// Nothing on a desktop without a settings window.
  SettingsWindowController* settingsWindow() {
    return settingsWindow_ ? &*settingsWindow_ : nullptr;
  }
  /// Nothing on a desktop without an onboarding window.
  OnboardingWindowController* onboarding() { return onboarding_ ? &*onboarding_ : nullptr; }

  bool isWarmedUp() const { return engine_.isWarmed(); }
  AppSettings& settings() { return settings_; }
  SwitcherEngine& engine() { return engine_; }
  MRUTracker& tracker() { return tracker_; }
  L10n& l10n() { return l10n_; }
  ImproveReporter& reporter() { return reporter_; }
  /// Nothing on a desktop without a secret store or a digest.
  CloudAccount* account() { return account_ ? &*account_ : nullptr; }
  /// Exists exactly when account() does.
  CloudSync* sync() { return sync_ ? &*sync_ : nullptr; }
  TesterMode& testerMode() { return tester_; }
  /// Nothing when the build names no update feed, or the backend reads none.
  UpdateController* updates() { return updates_ ? &*updates_ : nullptr; }
  NativeSwitcherGuard& guard() { return guard_; }
  /// Nothing on a desktop without a palette panel or a local key monitor.
  PaletteController* palette() { return palette_ ? &*palette_ : nullptr; }
  /// The tray item; its actions that other parts own are set through actions().
  StatusItemController& statusItem() { return statusItem_; }

 private:
  Task warmUp();
  void startPaletteHotKey();
  PaletteController::Services paletteServices();
  /// What the tray's entries do, as far as the application's own components can do it.
  StatusItemController::Actions trayActions();
  bool shouldRefresh(const RunningApp& app) const;
  /// The construction steps, in order: each needs what the ones before built.
  void connectSettingsHooks();
  void buildPaletteParts();
  void buildUpdates();
  void buildAccount();
  void buildWindows();
  /// At launch: the guide when it was never finished (or is forced), or its requirements page
  /// when the desktop lacks what the switcher needs.
  void showOnboardingIfNeeded();
  std::optional<std::string> switcherKeysProblem() const;

  Services& s_;
  DebugLog& log_;
  AppSettings settings_;
  FrameworkLanguage framework_;
  L10n l10n_;
  /// Before every component that talks to the service.
  CloudConfig cloud_;
  ImproveReporter reporter_;
  std::optional<CloudAccount> account_;
  std::optional<CloudSync> sync_;
  CrashReporter crashReporter_;
  TesterMode tester_;
  SpaceWindowResolver resolver_;
  MRUTracker tracker_;
  WindowEnumerator enumerator_;
  WindowActivator activator_;
  SwitcherController controller_;
  NativeSwitcherGuard guard_;
  SwitcherEngine engine_;
  BackgroundRefresh refresh_;
  std::optional<PaletteController> palette_;
  SecureInput secureInput_;
  Permissions permissions_;
  StatusItemController statusItem_;
  TaskHandle warmUpTask_;
  std::function<void()> interceptionObserver_;
  std::optional<GlobalHotKey> hotKey_;
  std::optional<UpdateController> updates_;
  /// Last: they show the state of everything above.
  std::optional<SettingsWindowController> settingsWindow_;
  std::optional<OnboardingWindowController> onboarding_;
};

/// The host of a URL ("settings" in "tolvane://settings"), or nothing when it is not a URL.
std::optional<std::string> urlHost(const std::string& url);

}  // namespace tolvane
