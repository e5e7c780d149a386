// Turns the system's own Command-Tab hotkeys off while Tolvane's switcher is in charge, and back
// on at every way out: on request, under secure input, when the main thread stalls, at quit.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/run_loop.h"
#include "diagnostics/debug_log.h"
#include "input/main_stall_watchdog.h"
#include "input/symbolic_hotkeys.h"
#include "model/usage_recorder.h"
#include "platform/event_tap.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tolvane {

/// Who holds secure keyboard input, for the log and the tray's tooltip.
class SecureInput {
 public:
  SecureInput(WindowServer& windowServer, Workspace& workspace)
      : windowServer_(windowServer), workspace_(workspace) {}
  /// The holder's process id (at least 1), or nothing.
  std::optional<Pid> holderPID();
  /// The holder's application name, else "PID n" while the process exists, else nothing.
  std::optional<std::string> holderName();

 private:
  WindowServer& windowServer_;
  Workspace& workspace_;
};

/// Who may hold the whole keyboard: a switcher session, the search palette or the tray's menu
/// while it is open.
enum class KeyboardHolder : std::size_t { switcherSession, palette, trayMenu };

/// Main thread, except restore-all, which the watchdog's thread may run.
class NativeSwitcherGuard {
 public:
  static constexpr double kHeartbeatSeconds = 0.25;
  /// While a session holds the whole keyboard: frequent enough for the watchdog to tell a stall
  /// within its short threshold.
  static constexpr double kHeldHeartbeatSeconds = 0.1;

  struct Services {
    WindowServer& windowServer;
    Workspace& workspace;
    RunLoop& runLoop;
    const Clock& clock;
    DebugLog& log;
    UsageRecorder& usage;
  };

  /// `watchdogSleep` is how the stall watchdog's thread waits between checks.
  NativeSwitcherGuard(Services services, std::function<void(double)> watchdogSleep);
  ~NativeSwitcherGuard();
  NativeSwitcherGuard(const NativeSwitcherGuard&) = delete;
  NativeSwitcherGuard& operator=(const NativeSwitcherGuard&) = delete;

  /// What the switcher wants suppressed; the system's hotkeys follow, subject to secure input.
  void setRequested(SymbolicHotKeySet requested);
  /// At quit: never change a hotkey again, stand the watchdog down, and enable all three.
  void disarm();
  /// The tap through which the stall watchdog lets go, from its own thread, of every hold this
  /// process has on the keyboard: the trigger grabs, a session's grab and a window's grab (the
  /// palette's). Set for as long as the tap exists, installed or not; nothing forgets it.
  void setKeyboardTap(EventTap* tap);
  /// Whether the tap's trigger grabs are installed and enabled. The keyboard is watched while
  /// they are or while any holder holds it; either call starts the heartbeat then, and re-arms
  /// the watch after it acted.
  void watchTriggerGrabs(bool installed);
  /// `holder` holds the whole keyboard (or no longer does): the heartbeat and the watchdog run
  /// fast while any holder does, whether the switcher intercepts keys or not.
  void setKeyboardHeld(KeyboardHolder holder, bool held);

  bool secureInputBlocking() const { return secureInputBlocking_; }
  const SymbolicHotKeySet& requested() const { return requested_; }
  MainStallWatchdog& watchdog() { return watchdog_; }

 private:
  void reconcile();
  void startHeartbeatIfNeeded();
  void heartbeat();
  void noteSecureInput(bool enabled);
  void restoreAll() { restoreAllSymbolicHotKeys(s_.windowServer); }
  void onHotKeyStall(double seconds);
  void onKeyboardStall(double seconds);
  void updateKeyboardWatch();

  Services s_;
  SecureInput secureInput_;
  std::function<void(double)> watchdogSleep_;
  bool disarmed_ = false;
  SymbolicHotKeySet requested_;
  bool secureInputBlocking_ = false;
  TimerId heartbeatTimer_ = 0;
  std::array<bool, 3> heldBy_{};
  bool keyboardHeld_ = false;
  bool triggerGrabsWatched_ = false;
  // Read by the watchdog's thread.
  std::atomic<EventTap*> keyboardTap_{nullptr};
  // Last: its thread must stop before the members it reaches through onStall go away.
  MainStallWatchdog watchdog_;
};

}  // namespace tolvane
