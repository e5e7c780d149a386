// The tray host's colours: the tray selection's owner and one property of it, on Qt's own xcb
// connection.
#include "ui/qt/tray_colors.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tolvane::qt {

namespace {

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

xcb_connection_t* qtConnection() {
  if (!qGuiApp) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

/// An atom that exists already; nothing for a name no client ever interned.
xcb_atom_t existingAtom(xcb_connection_t* connection, const char* name) {
  ReplyPtr<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name),
      nullptr));
  return atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace

std::optional<QColor> trayForeground() {
  xcb_connection_t* connection = qtConnection();
  if (!connection || xcb_connection_has_error(connection)) return std::nullopt;
  // The tray of screen 0, where Tolvane's icon docks.
  const xcb_atom_t selection = existingAtom(connection, "_NET_SYSTEM_TRAY_S0");
  const xcb_atom_t colours = existingAtom(connection, "_NET_SYSTEM_TRAY_COLORS");
  if (selection == XCB_ATOM_NONE || colours == XCB_ATOM_NONE) return std::nullopt;
  ReplyPtr<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
      connection, xcb_get_selection_owner(connection, selection), nullptr));
  if (!owner || owner->owner == XCB_WINDOW_NONE) return std::nullopt;
  // Four colours (foreground, error, warning, success) of three 16-bit components each; only
  // the foreground is read, and a shorter or mistyped value counts as none.
  ReplyPtr<xcb_get_property_reply_t> property(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, owner->owner, colours, XCB_ATOM_CARDINAL, 0, 3),
      nullptr));
  if (!property || property->format != 32 || property->value_len < 3) return std::nullopt;
  const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(property.get()));
  const auto component = [&](int i) { return static_cast<int>(std::min(values[i], 0xFFFFu)); };
  return QColor::fromRgba64(static_cast<quint16>(component(0)), static_cast<quint16>(component(1)),
                            static_cast<quint16>(component(2)));
}

}  // namespace tolvane::qt
