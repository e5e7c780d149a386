// Finding a panel on screen: a mapped override-redirect top-level window (Tolvane's HUD and
// palette, rofi's list), which the window manager never manages; its pixels, and its keyboard
// grab.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

namespace tolvane::test {

/// The geometry of the first such window larger than a toolkit's 1x1 helper windows; nothing
/// when none is on screen.
std::optional<xcb_get_geometry_reply_t> mappedOverlay(xcb_connection_t* connection,
                                                      xcb_window_t root);

/// Whether `event` tells that the keyboard was grabbed for a top-level window outside the
/// focused window's ancestry (a panel): a FocusOut on the focused window or on the root, whose
/// events must both be selected.
bool keyboardGrabbedForPanel(const xcb_generic_event_t& event, xcb_window_t root);

/// Whether some line of pixels of the screen inside `area` has the colour 0xRRGGBB: with
/// `asText`, on fewer than a third of its pixels (text or a thin mark in that colour, where a
/// filled band of it, a selected row, covers most of the line). A 24-bit TrueColor root, as
/// Xvfb's "-screen 0 WxHx24" gives.
bool showsColour(xcb_connection_t* connection, xcb_window_t root,
                 const xcb_get_geometry_reply_t& area, std::uint32_t rgb, bool asText);

}  // namespace tolvane::test
