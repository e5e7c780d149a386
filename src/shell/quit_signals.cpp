// The self-pipe, the only async-signal-safe way into a Qt event loop, and a second pipe that
// wakes the deadline's thread.
#include "shell/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <csignal>

namespace tolvane::shell {

namespace {

int loopPipe[2] = {-1, -1};
int deadlinePipe[2] = {-1, -1};
constexpr unsigned char kStopDeadline = 0;

void onSignal(int signal) {
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] auto written = ::write(loopPipe[1], &byte, 1);
  written = ::write(deadlinePipe[1], &byte, 1);
}

}  // namespace

QuitSignals::QuitSignals(std::function<void(int)> quit, std::function<void(int)> lastResort)
    : quit_(std::move(quit)), lastResort_(std::move(lastResort)) {
  if (loopPipe[0] < 0 && ::pipe2(loopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  if (deadlinePipe[0] < 0 && ::pipe2(deadlinePipe, O_CLOEXEC) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(loopPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    unsigned char byte = 0;
    while (::read(loopPipe[0], &byte, 1) == 1) quit_(byte);
  });
  deadline_ = std::thread([this] { keepDeadline(); });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT}) sigaction(signal, &action, nullptr);
}

QuitSignals::~QuitSignals() {
  // Back to the default: a signal after the loop has stopped ends the process at once.
  for (int signal : {SIGTERM, SIGINT}) std::signal(signal, SIG_DFL);
  quitFinished();
  if (deadline_.joinable()) {
    [[maybe_unused]] const auto written = ::write(deadlinePipe[1], &kStopDeadline, 1);
    deadline_.join();
  }
}

void QuitSignals::quitFinished() {
  std::lock_guard guard(lock_);
  quitFinished_ = true;
  finished_.notify_all();
}

void QuitSignals::keepDeadline() {
  unsigned char byte = kStopDeadline;
  ssize_t n = 0;
  do {
    n = ::read(deadlinePipe[0], &byte, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1 || byte == kStopDeadline) return;
  std::unique_lock guard(lock_);
  const auto deadline = std::chrono::duration<double>(kDeadlineSeconds);
  if (finished_.wait_for(guard, deadline, [this] { return quitFinished_; })) return;
  guard.unlock();
  const int signal = byte;
  lastResort_(signal);
  // The default action ends the whole process, whichever thread the signal reaches.
  std::signal(signal, SIG_DFL);
  ::kill(::getpid(), signal);
}

}  // namespace tolvane::shell
