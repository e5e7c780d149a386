// A background thread that notices when the main thread has stopped beating, and then gives back
// what a stalled Tolvane must not keep: the user's keyboard within a fraction of a second, the
// system's switcher hotkeys after ten seconds.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tolvane {

/// What the watchdog looks after; each watch has its own threshold and acts once per stall.
enum class StallWatch : std::size_t {
  /// The system's switcher hotkeys, while they are suppressed.
  hotKeys,
  /// Every hold of ours on the keyboard, through the event tap: its trigger grabs while they
  /// are installed, and a session's, the palette's or the tray menu's grab while one holds.
  keyboard,
};

class MainStallWatchdog {
 public:
  static constexpr double kStallSeconds = 10.0;
  /// While a switcher session holds the whole keyboard, a stall must end that hold within half
  /// a second: the threshold sits above the fast heartbeat's interval with room for a late
  /// timer, and the thread wakes often enough to act on it at once.
  static constexpr double kHeldKeyboardStallSeconds = 0.35;
  static constexpr double kHeldWakeSeconds = 0.05;
  /// Otherwise the trigger grabs hold nothing (the server ends each with its key), so the
  /// watchdog may look less often and only gives them back after a longer silence.
  static constexpr double kIdleKeyboardStallSeconds = 1.5;
  static constexpr double kIdleWakeSeconds = 0.25;

  /// Runs on the watchdog's thread with the stall's length in seconds.
  using OnStall = std::function<void(double stallSeconds)>;

  /// `uptime` gives monotonic nanoseconds. `onHotKeyStall` acts for the hotkeys watch after
  /// kStallSeconds, `onKeyboardStall` for the keyboard watch after the keyboard threshold in
  /// force; each at most once per stall.
  MainStallWatchdog(std::function<std::uint64_t()> uptime, OnStall onHotKeyStall,
                    OnStall onKeyboardStall);
  ~MainStallWatchdog();
  MainStallWatchdog(const MainStallWatchdog&) = delete;
  MainStallWatchdog& operator=(const MainStallWatchdog&) = delete;

  /// Starts the thread once; `sleep` waits between checks (the wake interval in force, in
  /// production; tests drive it).
  void start(std::function<void(double seconds)> sleep);

  /// Main thread: the heartbeat.
  void beat();
  /// Whether a stall matters now for `watch`; also re-arms it after it acted.
  void setActive(StallWatch watch, bool active);
  /// Main thread: a switcher session holds the whole keyboard, or no longer does. Counts as a
  /// beat, so that the shorter threshold never measures a gap from before the change.
  void setKeyboardHeld(bool held);

  /// One wake-up of the thread: checks for a stall and acts on it. Public so the decision can be
  /// tested step by step on a simulated clock.
  void check();

 private:
  struct Watch {
    double thresholdSeconds;
    OnStall onStall;
    bool active = false;
    /// Acted during the current stall; only setActive re-arms it.
    bool acted = false;
  };

  std::function<std::uint64_t()> uptime_;

  // Guards the fields below; the thread and the main thread only ever hold it briefly.
  std::mutex lock_;
  std::uint64_t lastBeat_;
  std::array<Watch, 2> watches_;

  std::atomic<double> wakeSeconds_{kIdleWakeSeconds};
  std::atomic<bool> cancelled_{false};
  std::thread thread_;
};

}  // namespace tolvane
