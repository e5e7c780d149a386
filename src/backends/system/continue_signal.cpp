// SIGCONT kept pending, asked for without waiting.
#include "backends/system/continue_signal.h"

#include <signal.h>
#include <sys/signalfd.h>

#include <ctime>

namespace tolvane::system {

namespace {

sigset_t continueSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGCONT);
  return set;
}

}  // namespace

void holdContinueSignal() {
  const sigset_t set = continueSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool takeContinueSignal() {
  const sigset_t set = continueSet();
  const timespec now{0, 0};
  return sigtimedwait(&set, nullptr, &now) == SIGCONT;
}

int continueSignalDescriptor() {
  const sigset_t set = continueSet();
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

}  // namespace tolvane::system
