// Starting, reading and ending the tolvane child.
#include "desktops/x11/support/tolvane_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tolvane::test {

TolvaneProcess::TolvaneProcess(const std::string& executable, const std::string& display,
                               const std::string& home, Environment environment)
    : executable_(executable),
      display_(display),
      home_(home),
      environment_(std::move(environment)) {
  for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
    std::filesystem::create_directories(home + "/" + name);
  }
  chmod((home + "/XDG_RUNTIME_DIR").c_str(), 0700);
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) return;
  pid_ = start({"--verbose"}, err[1]);
  close(err[1]);
  err_ = err[0];
  fcntl(err_, F_SETFL, O_NONBLOCK);
}

pid_t TolvaneProcess::start(const std::vector<std::string>& arguments, int errorOutput) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  dup2(errorOutput, STDERR_FILENO);
  const int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, STDOUT_FILENO);
  setenv("DISPLAY", display_.c_str(), 1);
  for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
    setenv(name, (home_ + "/" + name).c_str(), 1);
  }
  for (const auto& [name, value] : environment_) setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> argv{executable_.data()};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(executable_.c_str(), argv.data());
  _exit(127);
}

int TolvaneProcess::sendURL(const std::string& url) {
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = start({url}, devnull);
  close(devnull);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  return status;
}

TolvaneProcess::~TolvaneProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (err_ >= 0) close(err_);
}

PumpedConnection TolvaneProcess::pump() {
  return pumpInto(err_, log_);
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
