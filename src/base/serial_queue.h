// A serial queue: one worker thread that runs submitted work in order, one item at a time.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tolvane {

/// Work submitted from any thread runs on the queue's own thread in submission order. The
/// destructor runs everything already submitted, then joins the thread; work submitted after
/// that point is dropped.
class SerialQueue {
 public:
  SerialQueue();
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  /// Queues `work`; returns at once.
  void async(std::function<void()> work);
  /// Blocks until everything submitted before this call has run. Must not be called from the
  /// queue's own thread.
  void drain();
  /// Runs what is queued, then ends the thread; later submissions are dropped. Idempotent.
  /// Must not be called from the queue's own thread.
  void stop();
  /// True on the queue's own thread.
  bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void run();

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> work_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tolvane
