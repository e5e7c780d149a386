// The `tolvane` executable as a child process on a test display, with its diagnostic log read
// from standard error (--verbose) so that waits can end on the lines it logs.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "support/x11/x_session.h"

namespace tolvane::test {

/// Variables set in a child's environment, name → value.
using Environment = std::vector<std::pair<std::string, std::string>>;

class TolvaneProcess {
 public:
  /// Starts `executable --verbose` on `display`, with its XDG folders (runtime, config, data)
  /// under `home`, so that nothing of the caller's desktop is read or written, and its test
  /// hooks enabled. `environment` adds or replaces variables of the child (PATH, the service's
  /// address).
  TolvaneProcess(const std::string& executable, const std::string& display, const std::string& home,
                 Environment environment = {});
  ~TolvaneProcess();
  TolvaneProcess(const TolvaneProcess&) = delete;
  TolvaneProcess& operator=(const TolvaneProcess&) = delete;

  /// For XSession waits: reads what Tolvane logged, and wakes them when it logs.
  PumpedConnection pump();
  /// How many times the log read so far says `text`.
  int count(const std::string& text) const;
  const std::string& log() const { return log_; }

  /// Hands `url` to the running instance as a second start would, and waits for that start to
  /// end; its exit status.
  int sendURL(const std::string& url);
  /// The child's process id, for reading its use of the machine under /proc.
  pid_t pid() const { return pid_; }
  void signal(int number);
  /// Waits for the process to end and returns its wait status.
  int wait();

 private:
  pid_t start(const std::vector<std::string>& arguments, int errorOutput);

  std::string executable_, display_, home_;
  Environment environment_;
  pid_t pid_ = -1;
  int err_ = -1;
  bool reaped_ = false;
  std::string log_;
};

}  // namespace tolvane::test
