// Main-thread tasks: C++20 coroutines that run on the RunLoop and yield between steps.
//
//   Task warmUp(RunLoop&) { for (...) { work(); co_await yieldNow(); } }
//   TaskHandle handle = warmUp(loop).start(loop);
//
// A task is driven only by its RunLoop; it never runs on another thread. Cancellation is
// cooperative: the body asks `co_await isCancelled()` at its own checkpoints, and a cancelled
// task sleeping in `co_await sleepFor(s)` wakes at once (the sleep just returns).
//
// Trap: GCC 12 miscompiles a co_await written inside a condition (`if`, `while`): the task's
// body can silently never run. Always await into a variable first:
//   const bool cancelled = co_await isCancelled();
//   if (cancelled) co_return;
#pragma once

#include <coroutine>
#include <memory>
#include <utility>

#include "base/run_loop.h"

namespace tolvane {

namespace detail {
struct TaskState;
class FrameOwner;
}  // namespace detail

/// Shared view of a started task: lets its owner cancel it and see whether it ended.
class TaskHandle {
 public:
  TaskHandle() = default;
  explicit TaskHandle(std::shared_ptr<detail::TaskState> state) : state_(std::move(state)) {}

  /// Asks the task to stop at its next checkpoint; wakes it if it is sleeping.
  void cancel();
  bool isCancelled() const;
  /// True once the body returned (or the task was never started).
  bool isFinished() const;

 private:
  std::shared_ptr<detail::TaskState> state_;
};

/// Return type of a main-thread coroutine. Does nothing until `start`.
class Task {
 public:
  struct promise_type {
    std::shared_ptr<detail::TaskState> state;
    promise_type();
    Task get_return_object() {
      return Task(std::coroutine_handle<promise_type>::from_promise(*this));
    }
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_never final_suspend() noexcept { return {}; }
    void return_void();
    void unhandled_exception() noexcept;
  };
  using Handle = std::coroutine_handle<promise_type>;

  Task(Task&& other) noexcept : frame_(std::exchange(other.frame_, nullptr)) {}
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  Task& operator=(Task&&) = delete;
  ~Task();

  /// Schedules the first step on `loop` and hands the frame over to it.
  TaskHandle start(RunLoop& loop) &&;

 private:
  explicit Task(Handle frame) : frame_(frame) {}
  Handle frame_;
};

/// `co_await yieldNow()`: lets work already queued on the loop run, then continues.
struct YieldAwaiter {
  bool await_ready() const noexcept { return false; }
  void await_suspend(Task::Handle h) const;
  void await_resume() const noexcept {}
};
inline YieldAwaiter yieldNow() {
  return {};
}

/// `co_await sleepFor(seconds)`: continues after the delay, or at once when cancelled.
struct SleepAwaiter {
  double seconds;
  bool await_ready() const noexcept { return false; }
  void await_suspend(Task::Handle h) const;
  void await_resume() const noexcept {}
};
inline SleepAwaiter sleepFor(double seconds) {
  return {seconds};
}

/// `co_await isCancelled()`: true once the task's handle was cancelled. Does not suspend.
struct CancelledQuery {
  bool result = false;
  bool await_ready() const noexcept { return false; }
  bool await_suspend(Task::Handle h) noexcept;
  bool await_resume() const noexcept { return result; }
};
inline CancelledQuery isCancelled() {
  return {};
}

}  // namespace tolvane
