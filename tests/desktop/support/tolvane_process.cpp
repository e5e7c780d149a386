// Starting, reading and ending the tolvane child.
#include "desktop/support/tolvane_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tolvane::test {

TolvaneProcess::TolvaneProcess(const std::string& executable, const std::string& display,
                               const std::string& home) {
  for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
    std::filesystem::create_directories(home + "/" + name);
  }
  chmod((home + "/XDG_RUNTIME_DIR").c_str(), 0700);
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(err[1], STDERR_FILENO);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    setenv("DISPLAY", display.c_str(), 1);
    for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
      setenv(name, (home + "/" + name).c_str(), 1);
    }
    execl(executable.c_str(), executable.c_str(), "--verbose", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(err[1]);
  err_ = err[0];
  fcntl(err_, F_SETFL, O_NONBLOCK);
}

TolvaneProcess::~TolvaneProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (err_ >= 0) close(err_);
}

PumpedConnection TolvaneProcess::pump() {
  return {err_, [this] {
            char buffer[4096];
            int count = 0;
            ssize_t n;
            while ((n = read(err_, buffer, sizeof buffer)) > 0) {
              log_.append(buffer, static_cast<std::size_t>(n));
              ++count;
            }
            return count;
          }};
}

int TolvaneProcess::count(const std::string& text) const {
  int found = 0;
  for (auto at = log_.find(text); at != std::string::npos; at = log_.find(text, at + 1)) {
    ++found;
  }
  return found;
}

void TolvaneProcess::signal(int number) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, number);
}

int TolvaneProcess::wait() {
  int status = 0;
  if (pid_ > 0 && !reaped_) waitpid(pid_, &status, 0);
  reaped_ = true;
  return status;
}

}  // namespace tolvane::test
