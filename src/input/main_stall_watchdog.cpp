// The stall check and the watchdog thread's loop.
#include "input/main_stall_watchdog.h"

#include <vector>

namespace tolvane {

MainStallWatchdog::MainStallWatchdog(std::function<std::uint64_t()> uptime, OnStall onHotKeyStall,
                                     OnStall onKeyboardStall)
    : uptime_(std::move(uptime)),
      lastBeat_(uptime_()),
      watches_{Watch{kStallSeconds, std::move(onHotKeyStall)},
               Watch{kIdleKeyboardStallSeconds, std::move(onKeyboardStall)}} {}

MainStallWatchdog::~MainStallWatchdog() {
  cancelled_ = true;
  if (thread_.joinable()) thread_.join();
}

void MainStallWatchdog::start(std::function<void(double)> sleep) {
  if (thread_.joinable()) return;
  thread_ = std::thread([this, sleep = std::move(sleep)] {
    while (!cancelled_) {
      sleep(wakeSeconds_);
      if (cancelled_) return;
      check();
    }
  });
}

void MainStallWatchdog::beat() {
  std::lock_guard guard(lock_);
  lastBeat_ = uptime_();
}

void MainStallWatchdog::setActive(StallWatch watch, bool active) {
  std::lock_guard guard(lock_);
  auto& w = watches_[static_cast<std::size_t>(watch)];
  w.active = active;
  w.acted = false;
}

void MainStallWatchdog::setKeyboardHeld(bool held) {
  std::lock_guard guard(lock_);
  lastBeat_ = uptime_();
  watches_[static_cast<std::size_t>(StallWatch::keyboard)].thresholdSeconds =
      held ? kHeldKeyboardStallSeconds : kIdleKeyboardStallSeconds;
  wakeSeconds_ = held ? kHeldWakeSeconds : kIdleWakeSeconds;
}

void MainStallWatchdog::check() {
  double stall = 0;
  std::vector<const OnStall*> due;
  {
    std::lock_guard guard(lock_);
    const std::uint64_t now = uptime_();
    stall = now > lastBeat_ ? static_cast<double>(now - lastBeat_) / 1e9 : 0.0;
    for (auto& w : watches_) {
      if (!w.active || w.acted || stall <= w.thresholdSeconds) continue;
      w.acted = true;
      due.push_back(&w.onStall);
    }
  }
  // Outside the lock: the handlers talk to the window server, and a beat must never wait on
  // them. The handlers themselves are fixed at construction, so the pointers stay valid.
  for (const OnStall* onStall : due) (*onStall)(stall);
}

}  // namespace tolvane
