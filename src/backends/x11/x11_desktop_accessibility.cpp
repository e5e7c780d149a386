// The X11 desktop's answers to the model's questions about one client window: its element, its
// attributes, and what minimizing, restoring and raising it ask. (Elements, application
// attributes and observers: desktop_model/model_accessibility.cpp.)
//
//   Accessibility                    | on X11
//   ---------------------------------+-------------------------------------------------------------
//   trusted (with or without prompt) | an EWMH window manager runs (_NET_SUPPORTING_WM_CHECK, and
//                                    | _NET_SUPPORTED lists _NET_CLIENT_LIST, _NET_ACTIVE_WINDOW)
//   application element              | the clients of one _NET_WM_PID; a pid not running: dead
//   window element                   | one client window (XID) of _NET_CLIENT_LIST
//   AXWindows                        | the application's clients in _NET_CLIENT_LIST
//   AXFocusedWindow                  | _NET_ACTIVE_WINDOW when it is the application's, else the
//                                    | one of its windows active last
//   AXTitle                          | _NET_WM_NAME, else WM_NAME
//   AXSubrole                        | _NET_WM_WINDOW_TYPE: normal or unset -> AXStandardWindow,
//                                    | dialog -> AXDialog, other types keep their atom's name
//   AXSize                           | the window's geometry
//   AXMinimized (read / set)         | _NET_WM_STATE_HIDDEN / WM_CHANGE_STATE IconicState, or an
//                                    | activation to restore
//   AXMain (read / set)              | kept here: only an activation moves the focus
//   AXRole                           | always "AXWindow"
//   AXRaise                          | the _NET_ACTIVE_WINDOW client message
//                                    | (answered by x11_desktop_activation.cpp)
//   kInvalidUIElement -25202         | the window or process is gone (BadWindow, a new
//                                    | incarnation)
//   kCannotComplete -25204           | no reply: the connection is lost
//   kNoValue -25212                  | the property is not set
//   messaging timeout                | accepted and ignored: X requests do not hang on a client
//   AXFocusedWindowChanged observer  | PropertyNotify of _NET_ACTIVE_WINDOW on the root window
#include "backends/x11/x11_desktop.h"

#include <utility>

namespace tolvane::x11 {

namespace {

xcb_window_t xid(const desktop::DesktopElement& element) {
  return static_cast<xcb_window_t>(element.window);
}

}  // namespace

AXElement X11Desktop::windowElement(desktop::WindowNumber window) const {
  const Client& client = clients_.at(static_cast<xcb_window_t>(window));
  return std::make_shared<desktop::DesktopElement>(desktop::DesktopElement::Kind::window,
                                                   client.pid, window, client.serial);
}

bool X11Desktop::windowReachable(const App&, const desktop::DesktopElement& element) const {
  // The incarnation, not the XID alone: a window that closes and whose id comes back is
  // another window.
  const Client* client = element.window == xid(element) ? findClient(xid(element)) : nullptr;
  return client && client->serial == element.serial && client->pid == element.pid &&
         !client->destroyed;
}

std::optional<desktop::WindowNumber> X11Desktop::focusedWindowOf(const App& app) const {
  const Client* active = findClient(active_);
  if (active && active->pid == app.pid) return active_;
  if (isManaged(app.lastActive)) return app.lastActive;
  return std::nullopt;
}

int X11Desktop::refreshUnfollowed(Client& client, xcb_window_t window) {
  if (client.followed) return ax::kSuccess;
  // No event tells this desktop about the window: everything is read again, in one round trip,
  // and a window destroyed since it was listed answers -25202 from the server.
  PendingClientFacts facts(xcb_, atoms_, window);
  PendingTitle title(xcb_, atoms_, window);
  PendingSize size(xcb_, window);
  ReadStatus status = ReadStatus::ok;
  auto freshFacts = facts.take(&status);
  if (!freshFacts) return readError(status);
  auto freshTitle = title.take(status);
  if (status != ReadStatus::ok) return readError(status);
  const auto freshSize = size.take(status);
  if (!freshSize) return readError(status);
  client.facts = std::move(*freshFacts);
  client.title = std::move(freshTitle);
  client.size = freshSize;
  return ax::kSuccess;
}

int X11Desktop::checkAlive(const Client& client, xcb_window_t window) const {
  // A followed window's destruction is known from its event (reach answers for it).
  if (client.followed) return ax::kSuccess;
  return readError(probeWindow(xcb_, window));
}

int X11Desktop::readError(ReadStatus status) const {
  switch (status) {
    case ReadStatus::ok:
      return ax::kSuccess;
    case ReadStatus::missing:
      return ax::kNoValue;
    case ReadStatus::deadWindow:
      return ax::kInvalidUIElement;
    case ReadStatus::noReply:
      return ax::kCannotComplete;
  }
  return ax::kFailure;
}

std::string X11Desktop::subroleOf(xcb_atom_t type) const {
  if (type == atoms_.typeNormal) return std::string(ax::kStandardWindow);
  if (type == atoms_.typeDialog) return std::string(ax::kDialog);
  auto it = atomNames_.find(type);
  if (it == atomNames_.end()) it = atomNames_.emplace(type, atomName(xcb_, type)).first;
  return it->second;
}

AXResult X11Desktop::windowAttribute(App& app, const desktop::DesktopElement& element,
                                     std::string_view attribute) {
  const xcb_window_t window = xid(element);
  Client& client = clients_.at(window);
  if (const int error = refreshUnfollowed(client, window); error != ax::kSuccess) {
    return failure(error);
  }
  if (attribute == ax::kTitle) {
    if (!client.title) {
      ReadStatus status = ReadStatus::ok;
      auto title = readTitle(xcb_, atoms_, window, status);
      if (status != ReadStatus::ok) return failure(readError(status));
      client.title = std::move(title);
    }
    return *client.title ? value(**client.title) : failure(ax::kNoValue);
  }
  if (attribute == ax::kSubrole) {
    const std::string subrole = subroleOf(client.facts.effectiveType(atoms_));
    return subrole.empty() ? failure(ax::kNoValue) : value(subrole);
  }
  if (attribute == ax::kSize) {
    if (!client.size) {
      ReadStatus status = ReadStatus::ok;
      client.size = PendingSize(xcb_, window).take(status);
      if (!client.size) return failure(readError(status));
    }
    return value(Size{double(client.size->width), double(client.size->height)});
  }
  if (attribute == ax::kMinimized) return value(client.facts.hasState(atoms_.stateHidden));
  if (attribute == ax::kRole) return value(std::string("AXWindow"));
  if (attribute == ax::kMain) return value(app.main == window);
  return failure(ax::kAttributeUnsupported);
}

int X11Desktop::actionable(const desktop::DesktopElement& element) {
  return checkAlive(clients_.at(xid(element)), xid(element));
}

int X11Desktop::minimize(const desktop::DesktopElement& element) {
  sendRootMessage(connection_, xid(element), atoms_.wmChangeState, kIconicState);
  return ax::kSuccess;
}

bool X11Desktop::restore(const desktop::DesktopElement& element) {
  // The same message unminimizes: activating a hidden window shows it.
  activateWindow(xid(element));
  return true;
}

bool X11Desktop::raise(const desktop::DesktopElement& element) {
  activateWindow(xid(element));
  return true;
}

}  // namespace tolvane::x11
