// The colours a system tray host asks its icons to use, on the X display Qt is connected to.
#pragma once

#include <QColor>
#include <optional>

namespace tolvane::qt {

/// The foreground colour the tray host publishes for symbolic icons (the first of its
/// `_NET_SYSTEM_TRAY_COLORS`, set on the owner of the `_NET_SYSTEM_TRAY_S0` selection): it
/// knows whether its panel is light or dark. Nothing when no host runs, the host publishes no
/// colours, or Qt is not on X11.
std::optional<QColor> trayForeground();

}  // namespace tolvane::qt
