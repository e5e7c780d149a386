// Starting, reading, waiting for and ending the children of a desktop test.
#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string_view>

extern char** environ;

namespace tolvane::test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMaxText = 1 << 20;

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

/// Ours, with `overrides` replacing or (empty) removing variables, the last of a name winning.
std::vector<std::string> childEnvironment(const Environment& overrides) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text(*entry);
    const auto equals = text.find('=');
    variables[std::string(text.substr(0, equals))] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : overrides) {
    if (value.empty()) {
      variables.erase(name);
    } else {
      variables[name] = value;
    }
  }
  std::vector<std::string> env;
  for (const auto& [name, value] : variables) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
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

ChildProcess::ChildProcess(std::vector<std::string> argv, const Environment& environment, int out,
                           int err) {
  std::vector<std::string> env = childEnvironment(environment);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  for (const auto& [fd, target] : {std::pair{out, STDOUT_FILENO}, {err, STDERR_FILENO}}) {
    if (fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, fd, target);
    } else {
      posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
    }
  }
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  auto args = pointers(argv);
  auto envp = pointers(env);
  if (posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), envp.data()) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (pid_ > 0) pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

std::string PipeText::after(const std::string& prefix) const {
  const auto at = text_.rfind(prefix);
  if (at == std::string::npos) return {};
  const auto start = at + prefix.size();
  return text_.substr(start, text_.find('\n', start) - start);
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
