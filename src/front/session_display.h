// Which display server this session runs, as the front door and the desktop program both
// decide it: one instance runs per session display, and a trigger press must find it.
#pragma once

#include <string>

namespace tolvane::front {

struct SessionDisplay {
  /// The session's display: $WAYLAND_DISPLAY on Wayland, $DISPLAY on X11; empty when neither
  /// is set.
  std::string name;
  bool wayland = false;
};

/// A Wayland session when WAYLAND_DISPLAY is set, unless `forceX11` asks for the X display
/// (XWayland's, on a Wayland session).
SessionDisplay sessionDisplay(bool forceX11);

}  // namespace tolvane::front
