// A named pipe a client program writes to, read by the test as it comes: what is typed into a
// terminal (the proof that keys reached a window, and not Tolvane), or what a harness reports.
#pragma once

#include <optional>
#include <string>

#include "support/temp_dir.h"
#include "support/x11/x_session.h"

namespace tolvane::test {

class PipeReader {
 public:
  /// Makes the pipe and opens it before any writer exists, so that the writer's open does not
  /// block and nothing it writes is lost.
  PipeReader();
  ~PipeReader();
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;

  /// Where a writer opens the pipe; empty when it could not be made.
  const std::string& path() const { return path_; }
  /// For XSession waits: reads what arrived, and wakes them when something does.
  PumpedConnection pump();
  /// Everything read so far.
  const std::string& text() const { return text_; }

 private:
  TempDir folder_;
  std::string path_;
  int fd_ = -1;
  std::string text_;
};

/// Starts `xterm -T title` on the session's display, its terminal without line editing or echo,
/// copying what is typed into it to `pipe`.
std::optional<SpawnedClient> startTypingRecorder(XSession& session, const PipeReader& pipe,
                                                 const std::string& title);

}  // namespace tolvane::test
