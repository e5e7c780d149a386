// Virtual time for the simulated desktop: it moves only when a test, a scenario or a simulated
// call that costs time moves it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "base/clock.h"

namespace tolvane::sim {

class SimClock final : public Clock {
 public:
  /// Wall time at virtual time zero: 2026-01-01T00:00:00Z.
  static constexpr double kEpochWallSeconds = 1767225600.0;

  double now() const override { return static_cast<double>(nanos_.load()) / 1e9; }
  std::uint64_t uptimeNanoseconds() const override {
    return static_cast<std::uint64_t>(nanos_.load());
  }
  double wallSeconds() const override { return kEpochWallSeconds + now(); }

  /// Waits until `ready()` or until another thread has advanced virtual time to `deadline`.
  /// Virtual time has no way to wake a sleeper, so the wait re-checks it every millisecond of
  /// real time; the outcome depends only on `ready` and on virtual time.
  bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, double deadline,
                 const std::function<bool()>& ready) const override {
    const auto until = static_cast<std::int64_t>(deadline * 1e9 + 0.5);
    while (!ready()) {
      if (nanos_.load() >= until) return false;
      cv.wait_for(lock, std::chrono::milliseconds(1));
    }
    return true;
  }

  /// Moves time forward; negative steps are ignored (time never runs backwards).
  void advance(double seconds) {
    if (seconds > 0) nanos_ += static_cast<std::int64_t>(seconds * 1e9 + 0.5);
  }
  /// Moves time to `nanos` nanoseconds, unless it is already later.
  void advanceTo(std::int64_t nanos) {
    auto current = nanos_.load();
    while (nanos > current && !nanos_.compare_exchange_weak(current, nanos)) {
    }
  }
  std::int64_t nanos() const { return nanos_.load(); }

 private:
  // Integer nanoseconds, so a long run of small steps does not drift. Atomic because worker
  // threads (the stall watchdog, the reporter queue) read the clock.
  std::atomic<std::int64_t> nanos_{0};
};

}  // namespace tolvane::sim
