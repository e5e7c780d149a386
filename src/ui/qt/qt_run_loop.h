// The main thread's run loop on Qt's event loop: posted work, timers and hand-offs from other
// threads all arrive as Qt events.
#pragma once

#include <map>
#include <memory>

#include "base/run_loop.h"

class QObject;
class QTimer;

namespace tolvane::qt {

/// Create and use it on the thread that runs the Qt event loop; only postFromAnyThread may be
/// called from elsewhere, and only while the run loop exists. Nothing runs after it is
/// destroyed: pending work and timers go with it.
class QtRunLoop final : public RunLoop {
 public:
  QtRunLoop();
  ~QtRunLoop() override;
  QtRunLoop(const QtRunLoop&) = delete;
  QtRunLoop& operator=(const QtRunLoop&) = delete;

  TimerId post(Callback fn) override;
  TimerId postAfter(double delaySeconds, Callback fn) override;
  TimerId repeatEvery(double intervalSeconds, Callback fn) override;
  void cancel(TimerId id) override;
  void postFromAnyThread(Callback fn) override;

 private:
  struct Item {
    // Shared so that a running callback outlives its own cancellation.
    std::shared_ptr<Callback> fn;
    // Owned by context_; null for items posted without a delay.
    QTimer* timer = nullptr;
    bool repeats = false;
  };

  TimerId startTimer(double seconds, bool repeats, Callback fn);
  void run(TimerId id);

  TimerId nextId_ = 1;
  std::map<TimerId, Item> items_;
  // Receives the queued calls and owns the timers. Destroyed first, so no event of this loop is
  // delivered once its items are gone.
  std::unique_ptr<QObject> context_;
};

}  // namespace tolvane::qt
