// Whether a compositing manager runs on the X display Qt is connected to.
#pragma once

namespace tolvane::qt {

/// True when some client owns the `_NET_WM_CM_S0` selection, so windows with an alpha channel
/// are blended over the desktop. False on any other platform (offscreen, Wayland) and when the
/// display cannot answer: an opaque window then looks right everywhere.
bool compositorRunning();

}  // namespace tolvane::qt
