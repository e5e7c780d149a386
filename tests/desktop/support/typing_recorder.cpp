// The recording terminal: xterm running `cat` into a named pipe.
#include "desktop/support/typing_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::test {

TypingRecorder::~TypingRecorder() {
  if (fifo_ >= 0) close(fifo_);
}

std::optional<SpawnedClient> TypingRecorder::start(XSession& session, const std::string& title) {
  const std::string path = folder_.path() + "/typed";
  if (mkfifo(path.c_str(), 0600) != 0) return std::nullopt;
  // Open before the writer exists, so that its open does not block and nothing is lost.
  fifo_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fifo_ < 0) return std::nullopt;
  return session.startClient(
      {"xterm", "-T", title, "-e", "sh", "-c", "stty -icanon -echo min 1; exec cat > " + path});
}

PumpedConnection TypingRecorder::pump() {
  return pumpInto(fifo_, text_);
}

}  // namespace tolvane::test
