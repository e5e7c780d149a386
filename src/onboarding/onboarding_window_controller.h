// The first-run guide: a pager of steps (welcome, requirements, tutorial, consent) in one small
// window, re-evaluated every second so that a requirement met elsewhere moves it on by itself.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/run_loop.h"
#include "diagnostics/debug_log.h"
#include "localization/l10n.h"
#include "platform/accessibility.h"
#include "platform/described_window.h"
#include "settings/app_settings.h"
#include "views/onboarding_window_view.h"
#include "windows/permissions.h"

namespace tolvane {

/// Main thread only.
class OnboardingWindowController {
 public:
  static constexpr double kReevaluateSeconds = 1.0;

  struct Dependencies {
    OnboardingWindow& window;
    AppSettings& settings;
    L10n& l10n;
    RunLoop& runLoop;
    DebugLog& log;
    /// Trust means an EWMH window manager runs.
    Accessibility& accessibility;
    Permissions& permissions;
    /// The switcher's trigger combination that cannot be grabbed right now ("Super+Tab");
    /// nothing while they can.
    std::function<std::optional<std::string>()> switcherKeysProblem;
    /// Opens the settings window (on the switcher page, where the trigger key is chosen).
    std::function<void()> openSwitcherSettings;
    /// The lines the desktop's configuration needs to run the triggers, where Tolvane cannot
    /// bind them itself; nothing elsewhere.
    std::function<std::optional<std::string>()> manualBindings;
  };

  explicit OnboardingWindowController(Dependencies deps);
  ~OnboardingWindowController();
  OnboardingWindowController(const OnboardingWindowController&) = delete;
  OnboardingWindowController& operator=(const OnboardingWindowController&) = delete;

  /// Shows the guide from its first page, or from the requirements page; an open guide is
  /// brought forward (and moved to that page).
  void show(bool startAtPermissions = false);
  bool isOpen() const;
  /// Builds the description of the current page; only while open.
  OnboardingWindowView view();

 private:
  struct Pager;
  Dependencies d_;
  std::unique_ptr<Pager> pager_;
};

}  // namespace tolvane
