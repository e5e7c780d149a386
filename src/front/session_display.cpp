// The session display from the environment.
#include "front/session_display.h"

#include <cstdlib>

namespace tolvane::front {

SessionDisplay sessionDisplay(bool forceX11) {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!forceX11 && wayland && *wayland) return {.name = wayland, .wayland = true};
  const char* x11 = std::getenv("DISPLAY");
  return {.name = x11 ? x11 : "", .wayland = false};
}

}  // namespace tolvane::front
