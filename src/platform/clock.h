// The clock behind every deadline, delay and timestamp in Tolvane.
#pragma once

#include <cstdint>

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
};

}  // namespace tolvane
