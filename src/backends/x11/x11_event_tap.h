// The event tap on X11: passive asynchronous grabs of the trigger combinations on the root window,
// and an active keyboard grab for as long as a switcher session needs every key.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/x11/x11_connection.h"
#include "backends/x11/x11_keys.h"
#include "base/clock.h"
#include "platform/event_tap.h"

namespace tolvane::x11 {

/// A key combination the tap intercepts, in product key codes and flags.
struct TriggerCombination {
  std::uint16_t keyCode = 0;
  std::uint64_t flags = 0;
  bool operator==(const TriggerCombination&) const = default;
};

/// The settings that decide which combinations the switcher takes.
struct TriggerSettings {
  bool interceptTab = false;
  bool interceptKeyAboveTab = false;
  /// Alt drives the switcher instead of Super.
  bool triggerIsOption = false;
};

/// The combinations to grab for `settings`: each chosen key with the trigger modifier, with and
/// without Shift.
std::vector<TriggerCombination> triggerCombinations(const TriggerSettings& settings);

/// Main thread only (the thread that dispatches the connection's events), except
/// releaseFromAnyThread. The tap adds itself to the connection's sinks when constructed, so
/// construct it before any other service that reacts to key events on the root window (the hot
/// keys): during a session every key is the tap's.
///
/// Nothing here can freeze the keyboard: the trigger grabs are asynchronous, so the server ends
/// each one by itself when the trigger key is released, even while Tolvane is stopped. The
/// session's keyboard grab is the one hold that needs Tolvane to end it; the stall watchdog
/// ends it from its own thread when the main thread stops answering. A trigger press the
/// callback passes on cannot be handed to another client any more: asynchronous grabs cannot
/// replay.
class X11EventTap final : public EventTap, private EventSink {
 public:
  /// Keys queued while the tap was let go are dropped until the fence's notice, or this long.
  static constexpr double kMaxDroppingSeconds = 2.0;

  using Combinations = std::function<std::vector<TriggerCombination>()>;
  using Log = std::function<void(std::string_view)>;
  /// Whether the process was stopped and continued since the last call (see
  /// system::takeContinueSignal).
  using StopDetector = std::function<bool()>;
  /// Told, from any thread and under a lock it must not wait on, a window of this connection
  /// while a grab of ours holds the whole keyboard (a session's, a window's, or one being
  /// asked for), and 0 once none does: a process outside can then end the hold, by closing
  /// the connection, while this one is stopped.
  using HoldPublisher = std::function<void(std::uint32_t window)>;

  /// `combinations` is asked each time the tap grabs (create, setEnabled(true), a keyboard
  /// mapping change); `log` receives the tap's rare diagnostic lines; `clock` bounds how long
  /// queued keys are dropped.
  X11EventTap(Connection& connection, const Clock& clock, Combinations combinations, Log log);
  ~X11EventTap() override;
  X11EventTap(const X11EventTap&) = delete;
  X11EventTap& operator=(const X11EventTap&) = delete;

  void setStopDetector(StopDetector detector) { stopDetector_ = std::move(detector); }
  /// Before create(); told at once what holds now.
  void setHoldPublisher(HoldPublisher publisher);

  /// Grabs every combination; false, with nothing left grabbed, when another client owns one
  /// (failureReason() names it). The tap is enabled afterwards.
  bool create(Callback callback) override;
  void destroy() override;
  /// Disabling gives the combinations back to every client and ends a running grab.
  void setEnabled(bool enabled) override;
  bool isEnabled() const override { return enabled_ && !released_; }
  bool isKeyDown(std::uint16_t keyCode) const override;
  std::optional<std::string> failureReason() const override { return failure_; }
  std::optional<std::string> failedCombination() const override { return failedCombination_; }
  void sessionEnded() override;
  bool releaseFromAnyThread() override;
  /// Also what to call when the process may have been stopped and continued (a SIGCONT
  /// notice): keys queued meanwhile are then dropped.
  void deliverPendingRelease() override { recoverIfLetGo(); }

  /// Grabs the combinations again after the settings behind them changed; the tap ends up
  /// disabled when one is refused, as with setEnabled(true).
  void reloadCombinations();

  /// Whether another client holds the keyboard (a screen locker, a password prompt): a keyboard
  /// grab of our own is refused. False while this tap's own session grab holds.
  bool keyboardGrabbedElsewhere();
  /// The keyboard as the tap translates it, kept current across mapping changes.
  const KeyMap& keyMap() const { return keys_; }
  /// Whether a session holds the keyboard right now.
  bool holdsKeyboard() const { return sessionTrigger_.has_value(); }
  /// The windows of this process that may hold the keyboard and the pointer.
  enum class WindowGrab : std::size_t { palette, trayMenu };
  /// `grab`'s window holds the keyboard and the pointer, or no longer does: releaseFromAnyThread
  /// lets go of them too, since they are grabs of the same connection. Each window's hold is
  /// its own, so one closing never clears another's.
  void setWindowGrabHeld(bool held, WindowGrab grab = WindowGrab::palette);

 private:
  struct Grab {
    KeyGrab key;
    TriggerCombination combination;
  };

  bool handleEvent(const xcb_generic_event_t& event) override;
  bool handleKey(const xcb_key_press_event_t& event, bool press);
  bool grabCombinations();
  void ungrabCombinations();
  /// `trigger` is the matched combination's modifier without Shift.
  void handleTrigger(const xcb_key_press_event_t& event, std::uint64_t trigger);
  /// Takes the keyboard for a session; `keys` is the key state as the grab began.
  bool beginSession(xcb_timestamp_t time, std::uint64_t trigger, std::optional<KeyState>& keys);
  void endSession();
  void deliverSessionKey(const xcb_key_press_event_t& event, bool press);
  void endIfTriggerAlreadyUp(const std::optional<KeyState>& keys);
  std::uint64_t flagsAfterModifierKey(const xcb_key_press_event_t& event, bool press) const;
  void deliver(const KeyEvent& event);
  void log(const std::string& line) const;
  /// What the watchdog's thread may release: kept in step with every grab and ungrab.
  void publishHeld();
  /// Under heldLock_: tells the hold publisher what holds now.
  void publishHoldLocked();
  /// Under heldLock_: whether the grab of any window of ours holds.
  bool windowGrabHeldLocked() const;
  /// The keyboard grab about to be asked for (or answered): a stop while the request is on its
  /// way would keep the keyboard as surely as a granted one.
  void setGrabPending(bool pending);
  /// After the watchdog let go, or after a stop: forgets the grabs, drops the keys queued
  /// meanwhile, and tells the callback. True when there was something to recover from.
  bool recoverIfLetGo();
  /// Keys arrive in the order the server generated them; everything before the fence's
  /// PropertyNotify was queued before the recovery and is dropped.
  void raiseFence();
  bool dropsQueuedKeys();

  Connection& connection_;
  const Clock& clock_;
  Combinations combinations_;
  Log log_;
  StopDetector stopDetector_;
  KeyMap keys_;
  Callback callback_;
  bool created_ = false;
  bool enabled_ = false;
  std::optional<std::string> failure_;
  std::optional<std::string> failedCombination_;
  std::vector<Grab> grabs_;
  /// The trigger modifier of the session whose keyboard grab holds.
  std::optional<std::uint64_t> sessionTrigger_;
  /// Set while a trigger press is with the callback: the session it starts may already be over
  /// when the callback returns (an empty window list), and then no keyboard grab is taken.
  bool inTrigger_ = false;
  bool sessionEndedInTrigger_ = false;

  xcb_window_t fence_ = XCB_WINDOW_NONE;
  xcb_atom_t fenceAtom_ = XCB_ATOM_NONE;
  /// Until when (on the clock) keys are dropped at the latest, should the fence's notice never
  /// come.
  std::optional<double> droppingUntil_;

  // Shared with the watchdog's thread.
  std::mutex heldLock_;
  std::vector<KeyGrab> held_;
  bool heldKeyboard_ = false;
  std::array<bool, 2> windowGrabs_{};
  bool grabPending_ = false;
  HoldPublisher holdPublisher_;
  std::atomic<bool> released_{false};
};

}  // namespace tolvane::x11
