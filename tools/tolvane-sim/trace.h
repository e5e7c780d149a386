// The scenario trace: one line per observable event, each starting with the virtual time in
// seconds ("12.345 panel hidden"), written unbuffered so that lines printed from a signal
// handler land in order with the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "backends/sim/sim_clock.h"

namespace tolvane::simtool {

class Trace {
 public:
  /// Writes every line to `fd` as it happens.
  Trace(const sim::SimClock& clock, int fd) : clock_(clock), fd_(fd) {}
  /// Keeps the lines in memory, for tests.
  explicit Trace(const sim::SimClock& clock) : clock_(clock), fd_(-1) {}

  /// "<time> <kind> <text>". Safe from any thread.
  void line(std::string_view kind, std::string_view text);
  /// A line formatted by the caller, with its time and line feed. Async-signal-safe when
  /// writing to a descriptor.
  void raw(const char* data, std::size_t size);

  /// Formats virtual nanoseconds as "<seconds>.<milliseconds>" into `out` (at least 24 bytes)
  /// and returns the length. Async-signal-safe.
  static std::size_t formatTime(std::int64_t nanos, char* out);
  const sim::SimClock& clock() const { return clock_; }

  /// The lines so far, without line feeds (memory mode only).
  std::vector<std::string> lines() const;

 private:
  const sim::SimClock& clock_;
  const int fd_;
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};

}  // namespace tolvane::simtool
