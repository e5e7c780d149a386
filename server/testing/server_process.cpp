#include "testing/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>

namespace tolvane::server::testing {

std::unique_ptr<ServerProcess> ServerProcess::start(const std::string& executable,
                                                    const std::vector<std::string>& arguments,
                                                    std::string& whyNot) {
  std::vector<std::string> all = arguments;
  all.insert(all.end(), {"--listen", "127.0.0.1:0"});
  std::unique_ptr<ServerProcess> process(new ServerProcess);
  if (!process->launch(executable, all)) {
    whyNot = "no pipe";
    return nullptr;
  }
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

bool ServerProcess::launch(const std::string& executable,
                           const std::vector<std::string>& arguments) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return false;
  std::vector<char*> argv = {const_cast<char*>(executable.c_str())};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execv(executable.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  reader_ = std::thread([this, o = out[0], e = err[0]] { drain(o, e); });
  return true;
}

void ServerProcess::drain(int outFd, int errFd) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  while (open > 0 && poll(fds, 2, -1) > 0) {
    for (pollfd& fd : fds) {
      if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t got = read(fd.fd, buffer, sizeof buffer);
      std::lock_guard guard(lock_);
      if (got > 0) (fd.fd == outFd ? output_ : errors_).append(buffer, std::size_t(got));
      if (got <= 0) {
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
  {
    // Its standard error closes when it ends: the server starts no other process.
    std::unique_lock guard(lock_);
    if (!grew_.wait_for(guard, std::chrono::seconds(10), [&] { return errorsEnded_; }))
      kill(pid_, SIGKILL);
  }
  int status = 0;
  waitpid(pid_, &status, 0);
  if (reader_.joinable()) reader_.join();
  return status;
}

int ServerProcess::runToEnd(const std::string& executable,
                            const std::vector<std::string>& arguments, std::string& errors) {
  ServerProcess process;
  if (!process.launch(executable, arguments)) return -1;
  // Signal 0 sends nothing: the end is awaited, bounded like any stop.
  const int status = process.stop(0);
  errors = process.errors();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tolvane::server::testing
