// The serial queue's worker loop.
#include "base/serial_queue.h"

#include <future>

namespace tolvane {

SerialQueue::SerialQueue() : thread_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
  stop();
}

void SerialQueue::stop() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void SerialQueue::async(std::function<void()> work) {
  {
    std::lock_guard guard(lock_);
    if (stopping_) return;
    work_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void SerialQueue::drain() {
  std::promise<void> done;
  auto finished = done.get_future();
  {
    std::lock_guard guard(lock_);
    if (stopping_) return;
    work_.push_back([&done] { done.set_value(); });
  }
  wake_.notify_one();
  finished.wait();
}

void SerialQueue::run() {
  for (;;) {
    std::function<void()> next;
    {
      std::unique_lock guard(lock_);
      wake_.wait(guard, [this] { return stopping_ || !work_.empty(); });
      // Stopping still runs what was queued: a recorded event must reach the file.
      if (work_.empty()) return;
      next = std::move(work_.front());
      work_.pop_front();
    }
    next();
  }
}

}  // namespace tolvane
