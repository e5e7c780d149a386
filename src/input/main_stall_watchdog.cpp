// The stall check and the watchdog thread's loop.
#include "input/main_stall_watchdog.h"

namespace tolvane {

MainStallWatchdog::MainStallWatchdog(std::function<std::uint64_t()> uptime,
                                     std::function<void(std::int64_t)> onStall)
    : uptime_(std::move(uptime)), onStall_(std::move(onStall)), lastBeat_(uptime_()) {}

MainStallWatchdog::~MainStallWatchdog() {
  cancelled_ = true;
  if (thread_.joinable()) thread_.join();
}

void MainStallWatchdog::start(std::function<void(double)> sleep) {
  if (thread_.joinable()) return;
  thread_ = std::thread([this, sleep = std::move(sleep)] {
    while (!cancelled_) {
      sleep(kWakeSeconds);
      if (cancelled_) return;
      check();
    }
  });
}

void MainStallWatchdog::beat() {
  std::lock_guard guard(lock_);
  lastBeat_ = uptime_();
}

void MainStallWatchdog::setActive(bool active) {
  std::lock_guard guard(lock_);
  active_ = active;
  restoredDuringStall_ = false;
}

void MainStallWatchdog::check() {
  std::int64_t seconds = 0;
  {
    std::lock_guard guard(lock_);
    if (!active_ || restoredDuringStall_) return;
    const std::uint64_t now = uptime_();
    const double stall = now > lastBeat_ ? static_cast<double>(now - lastBeat_) / 1e9 : 0.0;
    if (stall <= kStallSeconds) return;
    restoredDuringStall_ = true;
    seconds = static_cast<std::int64_t>(stall);
  }
  // Outside the lock: the restore calls the window server, and a beat must never wait on it.
  onStall_(seconds);
}

}  // namespace tolvane
