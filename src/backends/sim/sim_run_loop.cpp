// Deterministic scheduling of the simulated main thread.
#include "backends/sim/sim_run_loop.h"

#include <cmath>

namespace tolvane::sim {

namespace {
std::int64_t toNanos(double seconds) {
  if (!(seconds > 0)) return 0;  // also catches NaN
  return static_cast<std::int64_t>(std::llround(seconds * 1e9));
}
}  // namespace

TimerId SimRunLoop::schedule(std::int64_t dueNanos, std::int64_t intervalNanos, Callback fn) {
  const TimerId id = nextSeq_;
  const Key key{dueNanos, nextSeq_++};
  queue_.emplace(key, id);
  items_.emplace(id, std::make_pair(key, Item{intervalNanos, std::move(fn)}));
  return id;
}

TimerId SimRunLoop::post(Callback fn) {
  return schedule(clock_.nanos(), 0, std::move(fn));
}

TimerId SimRunLoop::postAfter(double delaySeconds, Callback fn) {
  return schedule(clock_.nanos() + toNanos(delaySeconds), 0, std::move(fn));
}

TimerId SimRunLoop::repeatEvery(double intervalSeconds, Callback fn) {
  // A zero interval would make a timer that is always due; one nanosecond keeps time moving.
  const auto interval = std::max<std::int64_t>(1, toNanos(intervalSeconds));
  return schedule(clock_.nanos() + interval, interval, std::move(fn));
}

void SimRunLoop::cancel(TimerId id) {
  auto it = items_.find(id);
  if (it == items_.end()) return;
  queue_.erase(it->second.first);
  items_.erase(it);
}

void SimRunLoop::postFromAnyThread(Callback fn) {
  std::lock_guard<std::mutex> guard(inboxLock_);
  inbox_.push_back(std::move(fn));
}

void SimRunLoop::drainInbox() {
  std::vector<Callback> arrived;
  {
    std::lock_guard<std::mutex> guard(inboxLock_);
    arrived.swap(inbox_);
  }
  for (auto& fn : arrived) post(std::move(fn));
}

bool SimRunLoop::runFirstDueBy(std::int64_t limitNanos) {
  drainInbox();
  if (queue_.empty()) return false;
  auto first = queue_.begin();
  const Key key = first->first;
  if (key.first > limitNanos) return false;
  const TimerId id = first->second;
  queue_.erase(first);
  clock_.advanceTo(key.first);

  auto it = items_.find(id);
  Item item = std::move(it->second.second);
  if (item.intervalNanos == 0) {
    items_.erase(it);
    item.fn();
    return true;
  }
  // A repeating timer stays registered under its id while it runs, so the tick can cancel it.
  it->second.second.intervalNanos = item.intervalNanos;
  auto fn = item.fn;
  it->second.second.fn = std::move(item.fn);
  fn();
  it = items_.find(id);
  if (it != items_.end()) {
    // Like a real timer, a tick that ran late does not queue up the ticks it missed; the timer
    // keeps its phase and fires at the next multiple of its interval that is still ahead.
    std::int64_t due = key.first + item.intervalNanos;
    if (due <= clock_.nanos()) {
      due += ((clock_.nanos() - due) / item.intervalNanos + 1) * item.intervalNanos;
    }
    const Key next{due, nextSeq_++};
    it->second.first = next;
    queue_.emplace(next, id);
  }
  return true;
}

int SimRunLoop::runUntilIdle() {
  int count = 0;
  while (runFirstDueBy(clock_.nanos())) ++count;
  return count;
}

void SimRunLoop::advance(double seconds) {
  const std::int64_t target = clock_.nanos() + toNanos(seconds);
  while (runFirstDueBy(target)) {
  }
  clock_.advanceTo(target);
}

bool SimRunLoop::runNext() {
  drainInbox();
  if (queue_.empty()) return false;
  return runFirstDueBy(queue_.begin()->first.first);
}

}  // namespace tolvane::sim
