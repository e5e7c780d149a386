// SIGTERM and SIGINT as a request to quit the normal way, on the main thread; and a deadline, kept
// by a thread of its own, for when the main thread cannot get there.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QSocketNotifier;

namespace tolvane::shell {

class QuitSignals {
 public:
  /// How long the main thread has to finish quitting after a signal.
  static constexpr double kDeadlineSeconds = 2.0;

  /// Replaces the handlers of SIGTERM and SIGINT. `quit` runs on the main thread once per
  /// signal; a second signal while the first is handled still quits. `lastResort` runs on the
  /// deadline's thread when the main thread has not called quitFinished() within
  /// kDeadlineSeconds of a signal (it must not need the main thread: it releases the keyboard);
  /// the process then ends by that signal.
  QuitSignals(std::function<void(int signal)> quit, std::function<void(int signal)> lastResort);
  ~QuitSignals();
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

  /// The normal quit is done; the deadline stands down.
  void quitFinished();

 private:
  void keepDeadline();

  std::function<void(int)> quit_;
  std::function<void(int)> lastResort_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::mutex lock_;
  std::condition_variable finished_;
  bool quitFinished_ = false;
  std::thread deadline_;
};

}  // namespace tolvane::shell
