#include "testing/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>

namespace tolvane::server::testing {

namespace {

pid_t spawn(const std::string& executable, const std::vector<std::string>& arguments, int out,
            int err) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execv(executable.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// Reads what is ready on `fd` into `into`; false at end of file.
bool readSome(int fd, std::string& into) {
  char buffer[4096];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0) into.append(buffer, static_cast<std::size_t>(got));
  return got > 0;
}

// Waits for the child's end through a pidfd, killing it when it overstays `bound`.
int waitBounded(pid_t pid, std::chrono::seconds bound) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd ended{pidfd, POLLIN, 0};
    if (poll(&ended, 1, static_cast<int>(bound.count() * 1000)) <= 0) kill(pid, SIGKILL);
    close(pidfd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

}  // namespace

std::unique_ptr<ServerProcess> ServerProcess::start(const std::string& executable,
                                                    const std::vector<std::string>& arguments,
                                                    std::string& whyNot) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    whyNot = "no pipe";
    return nullptr;
  }
  std::vector<std::string> all = arguments;
  all.insert(all.end(), {"--listen", "127.0.0.1:0"});
  std::unique_ptr<ServerProcess> process(new ServerProcess);
  process->pid_ = spawn(executable, all, out[1], err[1]);
  close(out[1]);
  close(err[1]);
  process->reader_ =
      std::thread([raw = process.get(), o = out[0], e = err[0]] { raw->drain(o, e); });

  static const std::regex listening(R"(listening on https?://[^ ]*:(\d+))");
  std::unique_lock guard(process->lock_);
  std::smatch match;
  process->grew_.wait_for(guard, std::chrono::seconds(30), [&] {
    return std::regex_search(process->errors_, match, listening) || process->errorsEnded_;
  });
  if (match.empty()) {
    whyNot = "tolvane-server did not start: " + process->errors_;
    guard.unlock();
    process->stop(SIGKILL);
    return nullptr;
  }
  process->port_ = std::stoi(match[1].str());
  return process;
}

void ServerProcess::drain(int outFd, int errFd) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  while (open > 0 && poll(fds, 2, -1) > 0) {
    for (pollfd& fd : fds) {
      if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP))) continue;
      std::string chunk;
      const bool more = readSome(fd.fd, chunk);
      std::lock_guard guard(lock_);
      (fd.fd == outFd ? output_ : errors_) += chunk;
      if (!more) {
        errorsEnded_ = errorsEnded_ || fd.fd == errFd;
        close(fd.fd);
        fd.fd = -1;
        --open;
      }
      grew_.notify_all();
    }
  }
}

ServerProcess::~ServerProcess() {
  if (!ended_) stop(SIGTERM);
  if (reader_.joinable()) reader_.join();
}

std::string ServerProcess::baseURL() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::string ServerProcess::output() const {
  std::lock_guard guard(lock_);
  return output_;
}

std::string ServerProcess::errors() const {
  std::lock_guard guard(lock_);
  return errors_;
}

int ServerProcess::stop(int signal) {
  if (ended_ || pid_ <= 0) return 0;
  kill(pid_, signal);
  ended_ = true;
  const int status = waitBounded(pid_, std::chrono::seconds(10));
  if (reader_.joinable()) reader_.join();
  return status;
}

int ServerProcess::runToEnd(const std::string& executable,
                            const std::vector<std::string>& arguments, std::string& errors) {
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) return -1;
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = spawn(executable, arguments, devnull, err[1]);
  close(err[1]);
  close(devnull);
  while (readSome(err[0], errors)) {
  }
  close(err[0]);
  const int status = waitBounded(pid, std::chrono::seconds(30));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tolvane::server::testing
