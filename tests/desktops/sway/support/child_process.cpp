// Starting, reading, waiting for and ending the children of a Wayland desktop test.
#include "desktops/sway/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace tolvane::test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMaxText = 1 << 20;

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool waitOn(const std::function<bool()>& done, const std::vector<Source>& sources,
            std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  std::vector<pollfd> fds;
  for (const auto& source : sources) fds.push_back({source.fd, POLLIN, 0});
  for (;;) {
    for (std::size_t i = 0; i < sources.size(); ++i) {
      // A negative descriptor is one poll skips.
      if (fds[i].fd >= 0 && !sources[i].drain()) fds[i].fd = -1;
    }
    if (done()) return true;
    const int timeout = millisecondsUntil(deadline);
    if (timeout == 0) return false;
    poll(fds.data(), fds.size(), timeout);
  }
}

PipeText::PipeText(const std::string& fifo) {
  if (!fifo.empty()) {
    if (mkfifo(fifo.c_str(), 0600) != 0) return;
    read_ = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    write_ = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  read_ = ends[0];
  write_ = ends[1];
  fcntl(read_, F_SETFL, O_NONBLOCK);
}

PipeText::~PipeText() {
  closeWriteEnd();
  if (read_ >= 0) close(read_);
}

void PipeText::closeWriteEnd() {
  if (write_ >= 0) close(write_);
  write_ = -1;
}

Source PipeText::source() {
  return {read_, [this] {
            char buffer[4096];
            ssize_t n;
            while ((n = read(read_, buffer, sizeof buffer)) > 0) {
              if (text_.size() < kMaxText) text_.append(buffer, static_cast<std::size_t>(n));
            }
            return n != 0;
          }};
}

int PipeText::count(const std::string& needle) const {
  int found = 0;
  for (auto at = text_.find(needle); at != std::string::npos; at = text_.find(needle, at + 1)) {
    ++found;
  }
  return found;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Environment& environment,
                           int out, int err) {
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, STDIN_FILENO);
    dup2(out >= 0 ? out : devnull, STDOUT_FILENO);
    dup2(err >= 0 ? err : devnull, STDERR_FILENO);
    for (const auto& [name, value] : environment) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (pid_ < 0) return;
  // Also here: a signal to the group sent before the child ran setpgid must reach it.
  setpgid(pid_, pid_);
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(-pid_, SIGTERM);
    ::kill(-pid_, SIGCONT);  // a stopped child hears SIGTERM only once it runs
    if (!waitForEnd(std::chrono::seconds(5))) ::kill(-pid_, SIGKILL);
    if (!reaped_) waitpid(pid_, &status_, 0);
  }
  // What the child left running in its group goes with it.
  if (pid_ > 0) ::kill(-pid_, SIGKILL);
  if (pidfd_ >= 0) close(pidfd_);
}

void ChildProcess::reap() {
  if (reaped_ || pid_ <= 0) return;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
}

Source ChildProcess::source() {
  return {pidfd_, [this] {
            reap();
            return !reaped_;
          }};
}

void ChildProcess::signal(int number) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, number);
}

bool ChildProcess::waitForEnd(std::chrono::milliseconds bound) {
  return waitOn([this] { return reaped_; }, {source()}, bound);
}

}  // namespace tolvane::test
