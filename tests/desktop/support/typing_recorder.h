// A terminal that hands every character typed into it to the test as it comes: the proof that
// keys reached a window, and not Tolvane.
#pragma once

#include <optional>
#include <string>

#include "desktop/support/x_session.h"
#include "support/temp_dir.h"

namespace tolvane::test {

class TypingRecorder {
 public:
  TypingRecorder() = default;
  ~TypingRecorder();
  TypingRecorder(const TypingRecorder&) = delete;
  TypingRecorder& operator=(const TypingRecorder&) = delete;

  /// Starts `xterm -T title` on the session's display, its terminal without line editing or
  /// echo, copying what is typed to a pipe this object reads.
  std::optional<SpawnedClient> start(XSession& session, const std::string& title);
  /// For XSession waits: reads what arrived, and wakes them when something does.
  PumpedConnection pump();
  /// Everything typed so far.
  const std::string& text() const { return text_; }

 private:
  TempDir folder_;
  int fifo_ = -1;
  std::string text_;
};

}  // namespace tolvane::test
