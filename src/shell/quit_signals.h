// SIGTERM and SIGINT as a request to quit the normal way, on the main thread: the handler only
// writes a byte to a pipe the event loop watches.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace tolvane::shell {

class QuitSignals {
 public:
  /// Replaces the handlers of SIGTERM and SIGINT; `quit` runs on the main thread once per
  /// signal. A second signal while the first is handled still quits.
  explicit QuitSignals(std::function<void(int signal)> quit);
  ~QuitSignals();
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

 private:
  std::function<void(int)> quit_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tolvane::shell
