// The main thread's run loop: every timer, delayed work item and main-thread task runs on it.
#pragma once

#include <cstdint>
#include <functional>

namespace tolvane {

/// Identifies a posted work item or timer so it can be cancelled. Never 0.
using TimerId = std::uint64_t;

/// The main thread. All application state belongs to it; other threads reach it only through
/// postFromAnyThread.
class RunLoop {
 public:
  using Callback = std::function<void()>;

  virtual ~RunLoop() = default;

  /// Runs `fn` on the main thread at a later turn of the loop, after work already posted.
  virtual TimerId post(Callback fn) = 0;

  /// Runs `fn` once, `delaySeconds` from now on the loop's clock.
  virtual TimerId postAfter(double delaySeconds, Callback fn) = 0;

  /// Runs `fn` every `intervalSeconds`, the first time one interval from now, until cancelled.
  /// A tick may cancel its own timer.
  virtual TimerId repeatEvery(double intervalSeconds, Callback fn) = 0;

  /// Stops a pending item or timer. Cancelling an id that already ran, or 0, does nothing.
  virtual void cancel(TimerId id) = 0;

  /// The one thread-safe entry: queues `fn` to run on the main thread.
  virtual void postFromAnyThread(Callback fn) = 0;
};

}  // namespace tolvane
