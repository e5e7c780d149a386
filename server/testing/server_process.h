// tolvane-server as a child process for tests, the benchmark and the desktop tests: started on
// a free loopback port, its request log kept, stopped (or killed) on demand.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::server::testing {

class ServerProcess {
 public:
  /// Starts `executable` with `arguments` and "--listen 127.0.0.1:0", and waits (up to 30 s)
  /// for the line that names its port. Nothing, with `whyNot` (its standard error), when it
  /// exits or says nothing in time.
  static std::unique_ptr<ServerProcess> start(const std::string& executable,
                                              const std::vector<std::string>& arguments,
                                              std::string& whyNot);
  /// Stops it with SIGTERM (SIGKILL after 10 s) unless it has ended already.
  ~ServerProcess();

  int port() const { return port_; }
  /// "http://127.0.0.1:PORT".
  std::string baseURL() const;
  /// Its standard output (the request log) and standard error so far.
  std::string output() const;
  std::string errors() const;
  /// Sends `signal` and waits for the process to end; its wait status.
  int stop(int signal);

  /// Runs `executable` with `arguments` to its end (up to 10 s): the exit code (-1 when killed
  /// or timed out) and what it wrote to standard error.
  static int runToEnd(const std::string& executable, const std::vector<std::string>& arguments,
                      std::string& errors);

 private:
  ServerProcess() = default;
  /// Spawns the process with its output read by `reader_`; false without pipes.
  bool launch(const std::string& executable, const std::vector<std::string>& arguments);
  void drain(int outFd, int errFd);

  pid_t pid_ = -1;
  int port_ = 0;
  bool ended_ = false;
  mutable std::mutex lock_;
  // Told of each piece the reader adds, and of the end of standard error.
  std::condition_variable grew_;
  bool errorsEnded_ = false;
  std::string output_;
  std::string errors_;
  std::thread reader_;
};

}  // namespace tolvane::server::testing
