// The session display from the environment.
#include "front/session_display.h"

#include <cstdlib>

#include "backends/system/single_instance.h"

namespace tolvane::front {

SessionDisplay sessionDisplay(bool forceX11) {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!forceX11 && wayland && *wayland) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return {.name = wayland,
            .identity = system::waylandDisplayIdentity(wayland, runtime ? runtime : ""),
            .wayland = true};
  }
  const char* x11 = std::getenv("DISPLAY");
  const std::string name = x11 ? x11 : "";
  return {.name = name, .identity = name, .wayland = false};
}

}  // namespace tolvane::front
