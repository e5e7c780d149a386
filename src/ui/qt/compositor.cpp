// The compositing manager check: one selection-owner query on Qt's own xcb connection.
#include "ui/qt/compositor.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
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

}  // namespace

bool compositorRunning() {
  xcb_connection_t* connection = qtConnection();
  if (!connection || xcb_connection_has_error(connection)) return false;
  // The selection is per X screen; Tolvane shows its panels on the default screen, 0.
  static constexpr char kSelection[] = "_NET_WM_CM_S0";
  // only_if_exists: an atom nobody ever interned cannot have an owner either.
  ReplyPtr<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(kSelection)),
                      kSelection),
      nullptr));
  if (!atom || atom->atom == XCB_ATOM_NONE) return false;
  ReplyPtr<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
      connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
  return owner && owner->owner != XCB_WINDOW_NONE;
}

}  // namespace tolvane::qt
