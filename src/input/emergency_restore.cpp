// Exit, signal and terminate handlers. The signal handler only reads an atomic pointer, calls
// the window server's setter and re-raises: nothing that allocates, locks or throws.
#include "input/emergency_restore.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>

#include "input/symbolic_hotkeys.h"

namespace tolvane {

namespace {

std::atomic<WindowServer*> restoreTarget{nullptr};
std::terminate_handler previousTerminate = nullptr;

void restoreNow() {
  if (WindowServer* server = restoreTarget.load()) restoreAllSymbolicHotKeys(*server);
}

void restoreAtExit() {
  restoreNow();
}

void restoreOnSignal(int signal) {
  restoreNow();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

[[noreturn]] void restoreOnTerminate() {
  restoreNow();
  if (previousTerminate) previousTerminate();
  std::abort();
}

}  // namespace

void disarmNativeHotKeyEmergencyRestore() {
  restoreTarget.store(nullptr);
}

void installNativeHotKeyEmergencyRestore(WindowServer& windowServer) {
  const bool first = restoreTarget.exchange(&windowServer) == nullptr;
  if (!first) return;
  std::atexit(restoreAtExit);
  struct sigaction action {};
  action.sa_handler = restoreOnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  previousTerminate = std::set_terminate(restoreOnTerminate);
}

}  // namespace tolvane
