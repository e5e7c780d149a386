// The self-pipe: the only async-signal-safe way into a Qt event loop.
#include "shell/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace tolvane::shell {

namespace {

int pipeEnds[2] = {-1, -1};

void onSignal(int signal) {
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const auto written = ::write(pipeEnds[1], &byte, 1);
}

}  // namespace

QuitSignals::QuitSignals(std::function<void(int)> quit) : quit_(std::move(quit)) {
  if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    unsigned char byte = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1) quit_(byte);
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT}) sigaction(signal, &action, nullptr);
}

QuitSignals::~QuitSignals() {
  // Back to the default: a signal after the loop has stopped ends the process at once.
  for (int signal : {SIGTERM, SIGINT}) std::signal(signal, SIG_DFL);
}

}  // namespace tolvane::shell
