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
  /// The event tap's hold on the keyboard, while the tap is installed.
  keyboard,
};

class MainStallWatchdog {
 public:
  /// Short enough that the keyboard is released within half a second of a stall.
  static constexpr double kWakeSeconds = 0.05;
  static constexpr double kStallSeconds = 10.0;
  /// Above the heartbeat's interval with room for a late timer, and with kWakeSeconds still
  /// under half a second.
  static constexpr double kKeyboardStallSeconds = 0.35;

  /// Runs on the watchdog's thread with the stall's length in seconds.
  using OnStall = std::function<void(double stallSeconds)>;

  /// `uptime` gives monotonic nanoseconds. `onHotKeyStall` acts for the hotkeys watch after
  /// kStallSeconds, `onKeyboardStall` for the keyboard watch after kKeyboardStallSeconds; each
  /// at most once per stall.
  MainStallWatchdog(std::function<std::uint64_t()> uptime, OnStall onHotKeyStall,
                    OnStall onKeyboardStall);
  ~MainStallWatchdog();
  MainStallWatchdog(const MainStallWatchdog&) = delete;
  MainStallWatchdog& operator=(const MainStallWatchdog&) = delete;

  /// Starts the thread once; `sleep` waits between checks (kWakeSeconds in production; tests
  /// drive it).
  void start(std::function<void(double seconds)> sleep);

  /// Main thread: the heartbeat.
  void beat();
  /// Whether a stall matters now for `watch`; also re-arms it after it acted.
  void setActive(StallWatch watch, bool active);

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

  std::atomic<bool> cancelled_{false};
  std::thread thread_;
};

}  // namespace tolvane
