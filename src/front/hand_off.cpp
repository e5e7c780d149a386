// One connection, one line, one answer.
#include "front/hand_off.h"

#include <cstdio>

#include "backends/system/user_paths.h"
#include "front/session_display.h"

namespace tolvane::front {

using HandOff = system::SingleInstance::HandOff;

std::optional<int> handOffStatus(HandOff outcome) {
  switch (outcome) {
    case HandOff::delivered:
      return 0;
    case HandOff::noInstance:
      return std::nullopt;
    case HandOff::busy:
      std::fputs("tolvane: the running Tolvane is busy and did not take the link; try again\n",
                 stderr);
      return 1;
    case HandOff::notAcknowledged:
      break;
  }
  std::fputs("tolvane: the running Tolvane did not take the link\n", stderr);
  return 1;
}

std::optional<int> handOffToRunning(const std::string& url, bool forceX11) {
  const std::string display = sessionDisplay(forceX11).identity;
  if (display.empty()) return std::nullopt;
  std::string note;
  const auto runtime = system::currentRuntimeFolder(note);
  if (!runtime) return std::nullopt;
  const auto status = handOffStatus(system::SingleInstance::send(*runtime, display, url));
  // Without an instance the desktop program starts and gives the note itself.
  if (status && !note.empty()) std::fprintf(stderr, "tolvane: %s\n", note.c_str());
  return status;
}

}  // namespace tolvane::front
