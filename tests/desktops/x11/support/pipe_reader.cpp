// Reading a named pipe, and the recording terminal: xterm running `cat` into one.
#include "desktops/x11/support/pipe_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::test {

PipeReader::PipeReader() {
  const std::string path = folder_.path() + "/pipe";
  if (folder_.path().empty() || mkfifo(path.c_str(), 0600) != 0) return;
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ >= 0) path_ = path;
}

PipeReader::~PipeReader() {
  if (fd_ >= 0) close(fd_);
}

PumpedConnection PipeReader::pump() {
  return pumpInto(fd_, text_);
}

std::optional<SpawnedClient> startTypingRecorder(XSession& session, const PipeReader& pipe,
                                                 const std::string& title) {
  if (pipe.path().empty()) return std::nullopt;
  return session.startClient({"xterm", "-T", title, "-e", "sh", "-c",
                              "stty -icanon -echo min 1; exec cat > " + pipe.path()});
}

}  // namespace tolvane::test
