// Which display server this session runs, as the front door and the desktop program both
// decide it: one instance runs per session display, and a trigger press must find it.
#pragma once

#include <string>

namespace tolvane::front {

struct SessionDisplay {
  /// The session's display: $WAYLAND_DISPLAY on Wayland, $DISPLAY on X11; empty when neither
  /// is set.
  std::string name;
  /// What the instance of this display locks and listens under: for Wayland the socket the name
  /// leads to (see waylandDisplayIdentity), so that every spelling of one display meets one
  /// instance; for X11 the name.
  std::string identity;
  bool wayland = false;
};

/// A Wayland session when WAYLAND_DISPLAY is set, unless `forceX11` asks for the X display
/// (XWayland's, on a Wayland session).
SessionDisplay sessionDisplay(bool forceX11);

}  // namespace tolvane::front
