// The X11 desktop as an accessibility service: elements, attributes, actions and focus
// observers of managed windows.
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

#include <cmath>

namespace tolvane::x11 {

namespace {

const X11Element* x11Element(const AXElement& element) {
  return dynamic_cast<const X11Element*>(element.get());
}

AXResult value(AXValue v) {
  return AXResult{ax::kSuccess, std::move(v)};
}

AXResult failure(int error) {
  return AXResult{error, std::nullopt};
}

}  // namespace

bool X11Desktop::isProcessTrustedWithPrompt() {
  return trusted_;
}

AXElement X11Desktop::applicationElement(Pid pid) {
  // An element for a pid that is not running names no incarnation (serial 0): it is dead.
  const App* app = findApp(pid);
  return std::make_shared<X11Element>(X11Element::Kind::application, pid, XCB_WINDOW_NONE,
                                      app ? app->serial : 0);
}

AXElement X11Desktop::systemWideElement() {
  return std::make_shared<X11Element>(X11Element::Kind::systemWide, 0, XCB_WINDOW_NONE, 0);
}

int X11Desktop::reach(const AXElement& element, App*& app, Client*& client) {
  app = nullptr;
  client = nullptr;
  const X11Element* e = x11Element(element);
  if (!e || e->kind == X11Element::Kind::systemWide) return ax::kFailure;
  if (connectionLost()) return ax::kCannotComplete;
  if (!trusted_) return kAPIDisabled;
  App* owner = findApp(e->pid);
  if (!owner) return ax::kInvalidUIElement;
  if (e->kind == X11Element::Kind::application) {
    if (owner->serial != e->serial) return ax::kInvalidUIElement;
    app = owner;
    return ax::kSuccess;
  }
  auto found = clients_.find(e->window);
  Client* window = found == clients_.end() ? nullptr : &found->second;
  if (!window || window->serial != e->serial || window->pid != e->pid || window->destroyed) {
    return ax::kInvalidUIElement;
  }
  app = owner;
  client = window;
  return ax::kSuccess;
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

AXResult X11Desktop::copyAttribute(const AXElement& element, std::string_view attribute) {
  App* app = nullptr;
  Client* client = nullptr;
  if (const int error = reach(element, app, client); error != ax::kSuccess) return failure(error);
  if (!client) return applicationAttribute(*app, attribute);
  return windowAttribute(*app, *client, x11Element(element)->window, attribute);
}

AXResult X11Desktop::applicationAttribute(App& app, std::string_view attribute) {
  if (attribute == ax::kWindows) {
    std::vector<AXElement> list;
    list.reserve(app.windows.size());
    for (auto window : app.windows) list.push_back(windowElement(window));
    return value(std::move(list));
  }
  if (attribute == ax::kFocusedWindow) {
    const Client* active = findClient(active_);
    if (active && active->pid == app.pid) return value(windowElement(active_));
    if (isManaged(app.lastActive)) return value(windowElement(*app.lastActive));
    return failure(ax::kNoValue);
  }
  return failure(ax::kAttributeUnsupported);
}

AXResult X11Desktop::windowAttribute(App& app, Client& client, xcb_window_t window,
                                     std::string_view attribute) {
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

int X11Desktop::setAttribute(const AXElement& element, std::string_view attribute,
                             const AXValue& newValue) {
  App* app = nullptr;
  Client* client = nullptr;
  if (const int error = reach(element, app, client); error != ax::kSuccess) return error;
  if (!client || (attribute != ax::kMinimized && attribute != ax::kMain)) {
    return ax::kAttributeUnsupported;
  }
  const bool* flag = std::get_if<bool>(&newValue);
  if (!flag) return ax::kFailure;
  const xcb_window_t window = x11Element(element)->window;
  if (const int alive = checkAlive(*client, window); alive != ax::kSuccess) return alive;
  if (attribute == ax::kMain) {
    // Main, not focused: only an activation moves the focus.
    if (*flag) {
      app->main = window;
    } else if (app->main == window) {
      app->main.reset();
    }
  } else if (*flag) {
    sendRootMessage(connection_, window, atoms_.wmChangeState, kIconicState);
  } else {
    activateWindow(window);
    lastRaise_ = Raise{app->pid, window, client->serial, true};  // the activation is for it
  }
  return ax::kSuccess;
}

int X11Desktop::performAction(const AXElement& element, std::string_view action) {
  if (const X11Element* e = x11Element(element);
      e && e->kind == X11Element::Kind::window && action == ax::kRaise) {
    lastRaise_ = Raise{e->pid, e->window, e->serial};
  }
  App* app = nullptr;
  Client* client = nullptr;
  if (const int error = reach(element, app, client); error != ax::kSuccess) return error;
  if (!client || action != ax::kRaise) return ax::kFailure;
  const xcb_window_t window = x11Element(element)->window;
  if (const int alive = checkAlive(*client, window); alive != ax::kSuccess) return alive;
  activateWindow(window);
  if (lastRaise_) lastRaise_->sent = true;
  return ax::kSuccess;
}

int X11Desktop::setMessagingTimeout(const AXElement& element, double seconds) {
  if (!x11Element(element) || std::isnan(seconds) || seconds < 0) return ax::kFailure;
  return ax::kSuccess;
}

std::optional<Pid> X11Desktop::pidOf(const AXElement& element) {
  // Answered from the handle itself, so elements of windows that closed still know it.
  const X11Element* e = x11Element(element);
  if (!e || e->kind == X11Element::Kind::systemWide) return std::nullopt;
  return e->pid;
}

int X11Desktop::windowNumber(const AXElement& element, std::uint32_t& number) {
  App* app = nullptr;
  Client* client = nullptr;
  if (const int error = reach(element, app, client); error != ax::kSuccess) return error;
  if (!client) return ax::kFailure;
  number = x11Element(element)->window;
  return ax::kSuccess;
}

std::unique_ptr<AXObserver> X11Desktop::createObserver(Pid pid, ObserverCallback callback,
                                                       int& error) {
  error = connectionLost() ? ax::kCannotComplete
          : !trusted_      ? kAPIDisabled
          : !findApp(pid)  ? ax::kInvalidUIElement
                           : ax::kSuccess;
  if (error != ax::kSuccess) return nullptr;
  return observers_.addAccessibility(
      pid, std::move(callback),
      [this](Pid observed, const AXElement& element, std::string_view notification) {
        return checkNotification(observed, element, notification);
      });
}

int X11Desktop::checkNotification(Pid observed, const AXElement& element,
                                  std::string_view notification) {
  App* app = nullptr;
  Client* client = nullptr;
  if (const int error = reach(element, app, client); error != ax::kSuccess) return error;
  if (observed != app->pid) return ax::kFailure;
  // Focus changes are all the window manager tells; they concern the application.
  if (client || notification != ax::kFocusedWindowChanged) return kNotificationUnsupported;
  return ax::kSuccess;
}

}  // namespace tolvane::x11
