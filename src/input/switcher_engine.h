// The switcher session: owns the event tap, decides for every key event whether it is consumed,
// keeps the session's windows and selection, drives the HUD, and commits the chosen window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/random_source.h"
#include "base/run_loop.h"
#include "diagnostics/debug_log.h"
#include "focus/mru_tracker.h"
#include "focus/window_activator.h"
#include "hud/switcher_controller.h"
#include "input/native_switcher_guard.h"
#include "model/usage_recorder.h"
#include "platform/accessibility.h"
#include "platform/event_tap.h"
#include "platform/workspace.h"
#include "settings/app_settings.h"
#include "windows/window_enumerator.h"

namespace tolvane {

/// Main thread only. The tap callback never blocks on other applications: the first trigger
/// press takes a snapshot from the cache, every later key only moves the selection.
class SwitcherEngine {
 public:
  static constexpr double kPollSeconds = 2.0;
  static constexpr double kShowDelaySeconds = 0.1;
  static constexpr double kReleaseWatchdogSeconds = 0.15;
  /// A session that has heard neither a key nor its own watchdog for this long was left behind
  /// by a stopped or stalled main thread: the user has moved on, so it is cancelled, never
  /// committed. Many release-watchdog intervals, so a merely late timer never trips it.
  static constexpr double kAbandonedSessionSeconds = 1.0;
  /// While the tap cannot be installed for the same reason, the log repeats it this seldom.
  static constexpr double kFailureRelogSeconds = 3600;

  struct Services {
    const AppSettings& settings;
    Accessibility& accessibility;
    EventTap& tap;
    Workspace& workspace;
    MRUTracker& tracker;
    WindowEnumerator& enumerator;
    SwitcherController& controller;
    WindowActivator& activator;
    NativeSwitcherGuard& guard;
    RunLoop& runLoop;
    const Clock& clock;
    DebugLog& log;
    UsageRecorder& usage;
    RandomSource& random;
  };

  explicit SwitcherEngine(Services services);
  ~SwitcherEngine();
  SwitcherEngine(const SwitcherEngine&) = delete;
  SwitcherEngine& operator=(const SwitcherEngine&) = delete;

  /// Brings the tap and the hotkey suppression in line with the settings and the permission.
  void updateEnabled();
  /// Starts the 2-second poll that calls updateEnabled for the life of the engine.
  void startPolling();
  /// The first window snapshot exists: from now on the switcher intercepts keys.
  void setWarmed() { isWarmed_ = true; }
  bool isWarmed() const { return isWarmed_; }

  /// Commits the row at `index` (a click in the HUD), while a session shows it.
  void clickCommit(int index);

  /// What the tap does with one event.
  TapVerdict handle(const KeyEvent& event);

  // Read by the tray menu and by tests.
  bool isActive() const { return isActive_; }
  int selection() const { return selection_; }
  const std::vector<SwitchWindow>& windows() const { return windows_; }
  bool hasTap() const { return hasTap_; }
  /// Why the switcher cannot take its keys right now ("Super+Tab is grabbed by another
  /// program"), for the tray and the settings; nothing while it can.
  const std::optional<std::string>& tapFailure() const { return tapFailure_; }

 private:
  void installTapIfNeeded();
  void noteTapFailure(const std::string& what);
  void watchKeyboard();
  void removeTap();
  bool cancelIfAbandoned();
  /// The system disabled the tap (`reason` "timeout" or "userInput"): any session ends and the
  /// tap is switched on again.
  void recoverTap(const char* reason);
  /// A key pressed with the trigger's modifier held: true when it began or advanced a session.
  bool triggerKeyPressed(const KeyEvent& event);
  /// A key pressed during a session: commit, cancel, move, or pick by digit.
  void sessionKeyPressed(std::uint16_t keyCode);
  void beginOrAdvance(std::optional<Pid> scope, bool backwards);
  void move(int delta);
  void moveColumn(int delta);
  void commit();
  void cancel();
  void endSession();
  void scheduleShow();
  void startSessionWatchdog();
  bool isSessionTriggerPhysicallyDown() const;
  void recordSession(bool cancelled);
  int shownCount() const;
  void writeSelection(int selection);

  Services s_;
  bool hasTap_ = false;
  TimerId refreshTimer_ = 0;
  bool isActive_ = false;
  std::vector<SwitchWindow> windows_;
  int selection_ = 0;
  std::optional<HUDLayout> layout_;
  std::optional<Pid> scopePID_;
  TimerId pendingShow_ = 0;
  TimerId sessionWatchdog_ = 0;
  std::optional<std::uint64_t> sessionTriggerFlag_;
  std::optional<double> sessionStartTime_;
  int sessionKeystrokes_ = 0;
  /// When the session last heard a key or its watchdog.
  double lastSessionActivity_ = 0;
  const double launchTime_;
  bool isWarmed_ = false;
  std::optional<std::string> tapFailure_;
  double tapFailureLoggedAt_ = 0;
};

}  // namespace tolvane
