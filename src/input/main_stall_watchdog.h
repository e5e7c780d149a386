// A background thread that notices when the main thread has stopped beating while the system's
// switcher hotkeys are suppressed, and gives them back, so a hung Tolvane never leaves the user
// without any application switcher.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tolvane {

class MainStallWatchdog {
 public:
  static constexpr double kWakeSeconds = 1.0;
  static constexpr double kStallSeconds = 10.0;

  /// `uptime` gives monotonic nanoseconds; `onStall` runs on the watchdog's thread with the whole
  /// seconds of the stall, at most once per stall (it restores the hotkeys, logs and reports).
  MainStallWatchdog(std::function<std::uint64_t()> uptime,
                    std::function<void(std::int64_t seconds)> onStall);
  ~MainStallWatchdog();
  MainStallWatchdog(const MainStallWatchdog&) = delete;
  MainStallWatchdog& operator=(const MainStallWatchdog&) = delete;

  /// Starts the thread; `sleep` waits between checks (one second in production; tests drive it).
  void start(std::function<void(double seconds)> sleep);

  /// Main thread: the heartbeat.
  void beat();
  /// Whether a stall matters now (the hotkeys are suppressed); also re-arms after a stall.
  void setActive(bool active);

  /// One wake-up of the thread: checks for a stall and acts on it. Public so the decision can be
  /// tested step by step on a simulated clock.
  void check();

 private:
  std::function<std::uint64_t()> uptime_;
  std::function<void(std::int64_t)> onStall_;

  // Guards the three fields below; the thread and the main thread only ever hold it briefly.
  std::mutex lock_;
  std::uint64_t lastBeat_;
  bool active_ = false;
  bool restoredDuringStall_ = false;

  std::atomic<bool> cancelled_{false};
  std::thread thread_;
};

}  // namespace tolvane
