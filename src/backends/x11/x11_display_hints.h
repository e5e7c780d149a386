// What the X display tells the painting code about itself: whether a compositing manager blends
// translucent windows, and the colour the system tray host asks its icons to use. Qt asks
// through functions the shell hands it, so no widget speaks X11.
//
//   what the painting code asks      | on X11
//   ---------------------------------+----------------------------------------------------------
//   translucent windows are blended  | some client owns the `_NET_WM_CM_S0` selection (screen 0)
//   the tray's ink for symbolic icons| the first colour of `_NET_SYSTEM_TRAY_COLORS` (CARDINAL,
//                                    | 3 x 16 bits) on the owner of `_NET_SYSTEM_TRAY_S0`
#pragma once

#include <optional>

#include "backends/x11/x11_connection.h"
#include "base/geometry.h"

namespace tolvane::x11 {

/// True when a compositing manager runs on the connection's display; false when the display
/// cannot answer, so an opaque window is painted, which looks right everywhere.
bool compositorRunning(Connection& connection);

/// The foreground colour the tray host publishes for symbolic icons (it knows whether its panel
/// is light or dark). Nothing when no host runs, the host publishes no colours, or the value is
/// shorter or of another type than the convention's.
std::optional<Color> trayForeground(Connection& connection);

}  // namespace tolvane::x11
