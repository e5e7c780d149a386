// A sleep for background threads that the test drives: each sleep takes one tick (waiting for
// it if none is pending) or returns at shutdown.
#pragma once

#include <condition_variable>
#include <mutex>

namespace tolvane::test {

class ManualTicker {
 public:
  void sleep(double) {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [&] { return pending_ > 0 || stopped_; });
    if (pending_ > 0) --pending_;
  }
  void tick() {
    std::lock_guard guard(lock_);
    ++pending_;
    changed_.notify_all();
  }
  /// Releases every sleeper for good; call it before destroying what owns the thread.
  void shutdown() {
    std::lock_guard guard(lock_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int pending_ = 0;
  bool stopped_ = false;
};

}  // namespace tolvane::test
