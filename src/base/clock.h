// The clock behind every deadline, delay and timestamp in Tolvane.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tolvane {

/// Time as the core sees it. Nothing in the core reads the system clock directly, so the
/// simulated desktop can drive every deadline deterministically.
class Clock {
 public:
  virtual ~Clock() = default;

  /// Seconds on the clock of every deadline and delay: monotonic, with an arbitrary origin.
  virtual double now() const = 0;

  /// Monotonic uptime in nanoseconds; the stall watchdog measures heartbeats with it.
  virtual std::uint64_t uptimeNanoseconds() const = 0;

  /// Wall-clock time in seconds since 1970-01-01 UTC, for timestamps that leave the process.
  virtual double wallSeconds() const = 0;

  /// Blocks the calling thread until `ready()` holds or `now()` reaches `deadline`. `ready` is
  /// evaluated with `lock` held; whoever makes it true must notify `cv`. True when `ready()`
  /// held. A deadline rather than a duration: the bound counts from when the caller took it,
  /// not from whenever this thread gets to wait (a flush at quit follows simulated time).
  virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                         double deadline, const std::function<bool()>& ready) const = 0;
};

}  // namespace tolvane
