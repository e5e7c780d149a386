// The `tolvane` executable under test as a child process, with its diagnostic log read from
// standard error (--verbose) so that waits can end on the lines it logs.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tolvane::test {

class TolvaneProcess {
 public:
  /// How long a second start may take to hand over and end.
  static constexpr std::chrono::milliseconds kBound{20000};

  /// Starts `executable --verbose` with its XDG folders (runtime, config, data) under `home`,
  /// so that nothing of the caller's desktop is read or written. `environment` adds or
  /// replaces variables of the child (the display, PATH, the service's address).
  TolvaneProcess(const std::string& executable, const std::string& home,
                 const Environment& environment);

  /// For waits: reads what Tolvane logged, and wakes them when it logs.
  Source pump() { return log_.source(); }
  /// For waits: the end of the process.
  Source end() { return child_->source(); }
  /// How many times the log read so far says `text`.
  int count(const std::string& text) const { return log_.count(text); }
  const std::string& log() const { return log_.text(); }
  /// The rest of the last line of the log that says `prefix`, after it.
  std::string logAfter(const std::string& prefix) const { return log_.after(prefix); }

  /// Runs the executable again with `arguments` (a URL handed to the running instance, a
  /// trigger), its standard error to `err`, and waits for that start to end; its wait status.
  int runAgain(const std::vector<std::string>& arguments, int err = -1);
  int sendURL(const std::string& url) { return runAgain({url}); }
  /// The child's process id, for reading its use of the machine under /proc.
  pid_t pid() const { return child_->pid(); }
  void signal(int number) { child_->signal(number); }
  bool ended() const { return child_->ended(); }
  /// The wait status, once ended().
  int status() const { return child_->status(); }

 private:
  std::string executable_;
  Environment environment_;
  PipeText log_;
  std::unique_ptr<ChildProcess> child_;
};

}  // namespace tolvane::test
