// Child programs of a desktop test: each in a process group of its own, with the environment
// the test gives it, read through pipes, waited on through a pidfd, and ended with its whole
// group when the test is done.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tolvane::test {

/// Variables of a child, name → value, the last of a name winning; an empty value removes the
/// variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

/// A descriptor a wait keeps reading, and what reads it when it is readable: false once the
/// source has nothing more to say (the pipe's writers are gone, the child is reaped), after which
/// the wait stops polling it.
struct Source {
  int fd = -1;
  std::function<bool()> drain;
};

/// Waits until `done()` holds, asking again each time one of `sources` woke and was drained;
/// false when `bound` passed first.
bool waitOn(const std::function<bool()>& done, const std::vector<Source>& sources,
            std::chrono::milliseconds bound);

/// The reading end of a pipe, collected as it comes (at most 1 MiB: a runaway writer cannot
/// exhaust the test).
class PipeText {
 public:
  /// An anonymous pipe; or, given a path, a FIFO made there that others open by name, held
  /// open at both ends so that its reader never sees an end of file while writers come and go.
  explicit PipeText(const std::string& fifo = "");
  ~PipeText();
  PipeText(const PipeText&) = delete;
  PipeText& operator=(const PipeText&) = delete;

  /// The end a child writes to; the test closes its copy once the child has it.
  int writeEnd() const { return write_; }
  void closeWriteEnd();
  Source source();
  const std::string& text() const { return text_; }
  /// How many times the text says `needle`.
  int count(const std::string& needle) const;
  /// The rest of the last line that says `prefix`, after it; empty when none does.
  std::string after(const std::string& prefix) const;

 private:
  int read_ = -1, write_ = -1;
  std::string text_;
};

class ChildProcess {
 public:
  /// Starts `argv` (looked up in PATH) with `environment` over the test's own, standard output
  /// to `out` and standard error to `err` (/dev/null where -1). Spawned, never forked: a test
  /// running threads (Qt's) would hand a forked child their locks held.
  ChildProcess(std::vector<std::string> argv, const Environment& environment, int out = -1,
               int err = -1);
  /// Ends the group (SIGTERM, SIGKILL after a bound) and reaps the child.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0 && pidfd_ >= 0; }
  pid_t pid() const { return pid_; }
  /// Readable once the child has ended: reaps it.
  Source source();
  bool ended() const { return reaped_; }
  /// The wait status, once ended().
  int status() const { return status_; }
  void signal(int number);
  /// Waits up to `bound` for the end; whether it came.
  bool waitForEnd(std::chrono::milliseconds bound);

 private:
  void reap();
  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

}  // namespace tolvane::test
