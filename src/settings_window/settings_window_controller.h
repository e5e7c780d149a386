// The settings window: at most one at a time, opened on a tab or on the one last shown, kept in
// step with every setting, the language, the account, sync, tester mode and the key grabs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cloud/cloud_account.h"
#include "cloud/cloud_sync.h"
#include "diagnostics/debug_log.h"
#include "localization/l10n.h"
#include "platform/clock.h"
#include "platform/notifier.h"
#include "platform/run_loop.h"
#include "platform/system_info.h"
#include "platform/ui_surfaces.h"
#include "platform/views/settings_window_view.h"
#include "reporting/tester_mode.h"
#include "settings/app_settings.h"
#include "updates/update_controller.h"
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
    /// Why the switcher's trigger combinations cannot be grabbed right now ("Super+Tab is
    /// grabbed by another program"); nothing while they can.
    std::function<std::optional<std::string>()> switcherKeysProblem;
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
  Dependencies d_;
  std::unique_ptr<State> state_;
};

}  // namespace tolvane
