// Main-thread coroutine plumbing: who owns a suspended frame, and how it is resumed.
#include "base/task.h"

#include <exception>
#include <utility>

namespace tolvane {
namespace detail {

// Owns a suspended coroutine frame until the loop resumes it. If the loop drops the work item
// without running it (loop destroyed, or the item replaced on cancellation), the frame is
// destroyed here, which runs the destructors of the body's locals.
class FrameOwner {
 public:
  explicit FrameOwner(Task::Handle h) : frame_(h) {}
  FrameOwner(const FrameOwner&) = delete;
  FrameOwner& operator=(const FrameOwner&) = delete;
  ~FrameOwner() {
    if (frame_) frame_.destroy();
  }
  void resume() {
    if (auto h = std::exchange(frame_, nullptr)) h.resume();
  }

 private:
  Task::Handle frame_;
};

struct TaskState {
  RunLoop* loop = nullptr;
  bool cancelled = false;
  bool finished = false;
  // The sleep the task is in, so cancel() can wake it early.
  // Weak: the sleeping frame is owned by the loop's timer item; a strong reference here would
  // form a cycle with the frame's promise, which owns this state.
  TimerId sleepTimer = 0;
  std::weak_ptr<FrameOwner> sleeper;
};

namespace {
void schedule(RunLoop& loop, const std::shared_ptr<FrameOwner>& owner) {
  loop.post([owner] { owner->resume(); });
}
}  // namespace

}  // namespace detail

Task::promise_type::promise_type() : state(std::make_shared<detail::TaskState>()) {}

void Task::promise_type::return_void() {
  state->finished = true;
}

void Task::promise_type::unhandled_exception() noexcept {
  // Failures are results, not exceptions; an escaping exception is a programming error.
  std::terminate();
}

Task::~Task() {
  if (frame_) frame_.destroy();
}

TaskHandle Task::start(RunLoop& loop) && {
  auto frame = std::exchange(frame_, nullptr);
  auto state = frame.promise().state;
  state->loop = &loop;
  detail::schedule(loop, std::make_shared<detail::FrameOwner>(frame));
  return TaskHandle(state);
}

void TaskHandle::cancel() {
  if (!state_ || state_->cancelled) return;
  state_->cancelled = true;
  if (auto sleeper = state_->sleeper.lock(); sleeper && state_->sleepTimer != 0) {
    state_->loop->cancel(state_->sleepTimer);
    state_->sleepTimer = 0;
    state_->sleeper.reset();
    detail::schedule(*state_->loop, sleeper);
  }
}

bool TaskHandle::isCancelled() const {
  return state_ && state_->cancelled;
}

bool TaskHandle::isFinished() const {
  return !state_ || state_->finished;
}

void YieldAwaiter::await_suspend(Task::Handle h) const {
  auto& state = *h.promise().state;
  detail::schedule(*state.loop, std::make_shared<detail::FrameOwner>(h));
}

void SleepAwaiter::await_suspend(Task::Handle h) const {
  auto state = h.promise().state;
  auto owner = std::make_shared<detail::FrameOwner>(h);
  if (state->cancelled) {
    detail::schedule(*state->loop, owner);
    return;
  }
  state->sleeper = owner;
  // Weak for the same reason as TaskState::sleeper.
  std::weak_ptr<detail::TaskState> weak = state;
  state->sleepTimer = state->loop->postAfter(seconds, [owner, weak] {
    if (auto s = weak.lock()) {
      s->sleepTimer = 0;
      s->sleeper.reset();
    }
    owner->resume();
  });
}

bool CancelledQuery::await_suspend(Task::Handle h) noexcept {
  result = h.promise().state->cancelled;
  return false;
}

}  // namespace tolvane
