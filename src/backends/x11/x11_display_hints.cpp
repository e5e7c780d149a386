// The compositing manager and tray colour queries: a selection owner and one property of it.
#include "backends/x11/x11_display_hints.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tolvane::x11 {

namespace {

/// An atom that exists already; none for a name no client ever interned, which no selection
/// or property can carry either.
xcb_atom_t existingAtom(xcb_connection_t* connection, const char* name) {
  Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name),
      nullptr));
  return atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t selectionOwner(xcb_connection_t* connection, const char* selection) {
  const xcb_atom_t atom = existingAtom(connection, selection);
  if (atom == XCB_ATOM_NONE) return XCB_WINDOW_NONE;
  Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
      connection, xcb_get_selection_owner(connection, atom), nullptr));
  return owner ? owner->owner : xcb_window_t{XCB_WINDOW_NONE};
}

}  // namespace

bool compositorRunning(Connection& connection) {
  if (connection.hasFailed()) return false;
  // The selection is per X screen; Tolvane shows its panels on the default screen, 0.
  return selectionOwner(connection.xcb(), "_NET_WM_CM_S0") != XCB_WINDOW_NONE;
}

std::optional<Color> trayForeground(Connection& connection) {
  if (connection.hasFailed()) return std::nullopt;
  xcb_connection_t* c = connection.xcb();
  // The tray of screen 0, where Tolvane's icon docks.
  const xcb_window_t owner = selectionOwner(c, "_NET_SYSTEM_TRAY_S0");
  const xcb_atom_t colours = existingAtom(c, "_NET_SYSTEM_TRAY_COLORS");
  if (owner == XCB_WINDOW_NONE || colours == XCB_ATOM_NONE) return std::nullopt;
  // Four colours (foreground, error, warning, success) of three 16-bit components each; only
  // the foreground is read.
  Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(
      c, xcb_get_property(c, 0, owner, colours, XCB_ATOM_CARDINAL, 0, 3), nullptr));
  if (!property || property->format != 32 || property->value_len < 3) return std::nullopt;
  const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(property.get()));
  const auto component = [&](int i) { return std::min(values[i], 0xFFFFu) / 65535.0; };
  return Color{component(0), component(1), component(2), 1.0};
}

}  // namespace tolvane::x11
