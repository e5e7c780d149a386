// The settings window: at most one at a time, opened on a tab or on the one last shown, kept in
// step with every setting, the language, the account, sync, tester mode and the key grabs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/run_loop.h"
#include "cloud/cloud_account.h"
#include "cloud/cloud_sync.h"
#include "diagnostics/debug_log.h"
#include "localization/l10n.h"
#include "platform/application_catalog.h"
#include "platform/described_window.h"
#include "platform/local_key_monitor.h"
#include "platform/notifier.h"
#include "platform/system_info.h"
#include "platform/user_interaction.h"
#include "reporting/tester_mode.h"
#include "settings/app_settings.h"
#include "updates/update_controller.h"
#include "views/settings_window_view.h"
#include "windows/permissions.h"

namespace tolvane {

/// Main thread only.
class SettingsWindowController {
 public:
  /// Clicks on the sidebar's icon further apart than this start the count again.
  static constexpr double kTesterClickGapSeconds = 2.0;
  static constexpr int kTesterClicks = 8;

  struct Dependencies {
    SettingsWindow& window;
    AppSettings& settings;
    L10n& l10n;
    const Clock& clock;
    /// Repaints run on it, after the change that asked for them has been made: the settings
    /// tell of a change before they make it.
    RunLoop& runLoop;
    DebugLog& log;
    Accessibility& accessibility;
    Permissions& permissions;
    UserInteraction& interaction;
    /// The recorder captures keys through it; nothing: the palette row shows the chips only.
    LocalKeyMonitor* keyMonitor;
    /// The excluded-applications chooser's candidates and the list's names; nothing: bundle
    /// ids are shown as they are and "Add App…" is not offered.
    ApplicationCatalog* catalog;
    const BundleInfo& bundle;
    TesterMode& tester;
    /// Nothing where the desktop has no secret store: the account page says so.
    CloudAccount* account;
    CloudSync* sync;
    /// Nothing when the build names no update feed.
    UpdateController* updates;
    /// The switcher's trigger combination that cannot be grabbed right now ("Super+Tab");
    /// nothing while they can.
    std::function<std::optional<std::string>()> switcherKeysProblem;
    /// Whether the desktop has hidden applications at all; where it has none, the switch that
    /// shows their windows is disabled and says why.
    bool desktopHidesApplications = true;
  };

  explicit SettingsWindowController(Dependencies deps);
  ~SettingsWindowController();
  SettingsWindowController(const SettingsWindowController&) = delete;
  SettingsWindowController& operator=(const SettingsWindowController&) = delete;

  /// Opens the window (or brings the open one forward), on `tab` when given.
  void show(std::optional<SettingsTab> tab = std::nullopt);
  bool isOpen() const;
  /// The tab the sidebar shows (`SettingsRouter.selectedTab`).
  SettingsTab selectedTab() const;
  /// Builds the description of the window as it would be painted now.
  SettingsWindowView view();
  /// Something the window shows changed outside of it (a permission, a key grab): repaint.
  void refresh();

 private:
  struct State;

  void open();
  /// Forgets the open window's state: capture stops, subscriptions and a pending repaint end.
  void dropState();
  void selectTab(SettingsTab tab);
  /// Repaints once on a later turn of the run loop, however many changes come first. Never
  /// repaints from inside a control's callback, which the backend may still be running.
  void scheduleRepaint();
  void repaintNow();
  void logShown();
  void iconClicked();
  void chooseExcludedApplications();
  void addExcludedApplications(const std::vector<std::string>& chosen,
                               const std::vector<std::string>& offered);
  void removeExcludedApplication(const std::string& bundleID);
  /// The name shown for an excluded application; looked up once per open window.
  std::string applicationName(const std::string& bundleID);

  // The pages, in settings_pages.cpp.
  std::string text(std::string_view key) const;
  std::vector<SettingsSidebarEntry> sidebar() const;
  SettingsRowView row(std::string_view titleKey, std::string_view subtitleKey,
                      std::vector<SettingsControl> controls) const;
  SettingsSwitch toggle(bool on, std::function<void(bool)> set);
  SettingsPillButton pill(std::string_view titleKey, bool filled, std::function<void()> action);
  SettingsRecorder recorder();
  SettingsHeroView hero() const;
  std::vector<SettingsCardView> generalCards();
  std::vector<SettingsCardView> switcherCards();
  SettingsRowView hiddenAppsRow();
  std::vector<SettingsCardView> privacyCards();
  std::vector<SettingsCardView> permissionCards();
  std::vector<SettingsCardView> accountCards();
  std::vector<SettingsCardView> aboutCards();

  Dependencies d_;
  /// Outlives the window: the next opening without a tab shows the page last shown.
  SettingsTab tab_ = SettingsTab::general;
  /// Exists exactly while the window is open.
  std::unique_ptr<State> state_;
  /// Callbacks that may come after this controller is gone (the application chooser's answer)
  /// hold it weakly.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace tolvane
