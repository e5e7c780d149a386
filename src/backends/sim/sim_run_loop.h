// The main thread of the simulated desktop: work runs only when a test or scenario drives it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "backends/sim/sim_clock.h"
#include "base/run_loop.h"

namespace tolvane::sim {

/// A deterministic run loop on a SimClock. Items run in order of due time, then of posting.
/// Time never jumps by itself: `advance` moves the clock to each due item in turn. A callback
/// that costs virtual time (a slow simulated call) delays the items behind it, as a busy main
/// thread would.
class SimRunLoop final : public RunLoop {
 public:
  explicit SimRunLoop(SimClock& clock) : clock_(clock) {}

  TimerId post(Callback fn) override;
  TimerId postAfter(double delaySeconds, Callback fn) override;
  TimerId repeatEvery(double intervalSeconds, Callback fn) override;
  void cancel(TimerId id) override;
  void postFromAnyThread(Callback fn) override;

  /// Runs everything that is due now, including work that it posts for now. Returns the number
  /// of items run.
  int runUntilIdle();
  /// Moves time forward by `seconds`, running every item that falls due on the way.
  void advance(double seconds);
  /// Runs the next pending item, moving time to it if needed; false when nothing is pending.
  bool runNext();
  /// Items waiting (repeating timers count once).
  std::size_t pendingCount() const { return items_.size(); }
  SimClock& clock() { return clock_; }

 private:
  struct Item {
    std::int64_t intervalNanos = 0;  // 0 for one-shot items
    Callback fn;
  };
  using Key = std::pair<std::int64_t, std::uint64_t>;  // due time, sequence

  TimerId schedule(std::int64_t dueNanos, std::int64_t intervalNanos, Callback fn);
  void drainInbox();
  bool runFirstDueBy(std::int64_t limitNanos);

  SimClock& clock_;
  std::uint64_t nextSeq_ = 1;
  std::map<Key, TimerId> queue_;
  std::map<TimerId, std::pair<Key, Item>> items_;
  std::mutex inboxLock_;
  std::vector<Callback> inbox_;
};

}  // namespace tolvane::sim
