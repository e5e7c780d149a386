// The Wayland desktop as an accessibility service: elements, attributes, actions and focus
// observers of announced toplevels.
//
//   Accessibility                    | on Wayland
//   ---------------------------------+-------------------------------------------------------------
//   trusted (with or without prompt) | the compositor lends its toplevel list (until `finished`)
//   application element              | the toplevels of one application (see wayland_desktop.h)
//   window element                   | one toplevel
//   AXWindows                        | the application's toplevels in announcement order
//   AXFocusedWindow                  | the focused toplevel when it is the application's, else
//                                    | its toplevel focused last (at start: sway's focus order)
//   AXTitle                          | the title; none yet: kNoValue
//   AXSubrole                        | always AXStandardWindow: the protocol tells no types
//   AXSize                           | kNoValue: the protocol tells no sizes (the core keeps
//                                    | windows whose size it cannot read)
//   AXMinimized (read / set)         | the minimized state / set_minimized, or an activation
//                                    | to restore
//   AXMain (read / set)              | kept here: only an activation moves the focus
//   AXRole                           | always "AXWindow"
//   AXRaise                          | an activation (answered by wayland_desktop_workspace.cpp)
//   kInvalidUIElement -25202         | the toplevel closed, or its application ended
//   kAPIDisabled -25211              | the toplevel list was withdrawn
//   messaging timeout                | accepted and ignored: nothing asks the applications
//   AXFocusedWindowChanged observer  | the focused toplevel moves to one of the application's
#include "backends/wayland/wayland_desktop.h"

#include <cmath>
#include <limits>
#include <utility>

namespace tolvane::wayland {

namespace {

const WaylandElement* waylandElement(const AXElement& element) {
  return dynamic_cast<const WaylandElement*>(element.get());
}

AXResult value(AXValue v) {
  return AXResult{ax::kSuccess, std::move(v)};
}

AXResult failure(int error) {
  return AXResult{error, std::nullopt};
}

}  // namespace

AXElement WaylandDesktop::applicationElement(Pid pid) {
  // An element for a pid that is not running names no incarnation (serial 0): it is dead.
  const App* app = findApp(pid);
  return std::make_shared<WaylandElement>(WaylandElement::Kind::application, pid, 0,
                                          app ? app->serial : 0);
}

AXElement WaylandDesktop::systemWideElement() {
  return std::make_shared<WaylandElement>(WaylandElement::Kind::systemWide, 0, 0, 0);
}

int WaylandDesktop::reach(const AXElement& element, App*& app, const Window*& window) {
  app = nullptr;
  window = nullptr;
  const WaylandElement* e = waylandElement(element);
  if (!e || e->kind == WaylandElement::Kind::systemWide) return ax::kFailure;
  if (!trusted_) return kAPIDisabled;
  App* owner = findApp(e->pid);
  if (!owner || owner->serial != e->serial) return ax::kInvalidUIElement;
  if (e->kind == WaylandElement::Kind::window) {
    const Window* found = findWindow(e->toplevel);
    if (!found || found->pid != e->pid) return ax::kInvalidUIElement;
    window = found;
  }
  app = owner;
  return ax::kSuccess;
}

AXResult WaylandDesktop::copyAttribute(const AXElement& element, std::string_view attribute) {
  App* app = nullptr;
  const Window* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return failure(error);
  if (!window) return applicationAttribute(*app, attribute);
  return windowAttribute(*app, *window, attribute);
}

AXResult WaylandDesktop::applicationAttribute(const App& app, std::string_view attribute) {
  if (attribute == ax::kWindows) {
    std::vector<AXElement> list;
    list.reserve(app.windows.size());
    for (auto id : app.windows) list.push_back(windowElement(id));
    return value(std::move(list));
  }
  if (attribute == ax::kFocusedWindow) {
    const Window* focused = focused_ ? findWindow(*focused_) : nullptr;
    if (focused && focused->pid == app.pid) return value(windowElement(*focused_));
    if (const auto last = lastFocusedOf(app)) return value(windowElement(*last));
    return failure(ax::kNoValue);
  }
  return failure(ax::kAttributeUnsupported);
}

AXResult WaylandDesktop::windowAttribute(const App& app, const Window& window,
                                         std::string_view attribute) {
  const ToplevelState& state = window.state;
  if (attribute == ax::kTitle) {
    return state.title.empty() ? failure(ax::kNoValue) : value(state.title);
  }
  if (attribute == ax::kSubrole) return value(std::string(ax::kStandardWindow));
  if (attribute == ax::kSize) return failure(ax::kNoValue);
  if (attribute == ax::kMinimized) return value(state.minimized);
  if (attribute == ax::kRole) return value(std::string("AXWindow"));
  if (attribute == ax::kMain) {
    const bool ownMain = app.main && findWindow(*app.main) && findWindow(*app.main)->pid == app.pid;
    return value((ownMain ? app.main : lastFocusedOf(app)) == state.id);
  }
  return failure(ax::kAttributeUnsupported);
}

int WaylandDesktop::setAttribute(const AXElement& element, std::string_view attribute,
                                 const AXValue& newValue) {
  const Busy busy(*this);
  App* app = nullptr;
  const Window* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return error;
  if (!window || (attribute != ax::kMinimized && attribute != ax::kMain)) {
    return ax::kAttributeUnsupported;
  }
  const bool* flag = std::get_if<bool>(&newValue);
  if (!flag) return ax::kFailure;
  const ToplevelId id = window->state.id;
  if (attribute == ax::kMain) {
    // Main, not focused: only an activation moves the focus.
    if (*flag) {
      app->main = id;
    } else if (app->main == id) {
      app->main.reset();
    }
    return ax::kSuccess;
  }
  if (*flag) return source_.setMinimized(id, true) ? ax::kSuccess : ax::kInvalidUIElement;
  // Restoring is an activation, which un-minimizes first; the next activate is for it. The
  // pid is read before: sway, asked meanwhile, may report a change that regroups.
  const Pid pid = app->pid;
  if (!requestActivation(id)) return ax::kInvalidUIElement;
  lastRaise_ = Raise{pid, id, true};
  return ax::kSuccess;
}

int WaylandDesktop::performAction(const AXElement& element, std::string_view action) {
  const Busy busy(*this);
  if (const WaylandElement* e = waylandElement(element);
      e && e->kind == WaylandElement::Kind::window && action == ax::kRaise) {
    lastRaise_ = Raise{e->pid, e->toplevel};
  }
  App* app = nullptr;
  const Window* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return error;
  if (!window || action != ax::kRaise) return ax::kFailure;
  if (!requestActivation(window->state.id)) return ax::kInvalidUIElement;
  if (lastRaise_) lastRaise_->sent = true;
  return ax::kSuccess;
}

int WaylandDesktop::setMessagingTimeout(const AXElement& element, double seconds) {
  if (!waylandElement(element) || std::isnan(seconds) || seconds < 0) return ax::kFailure;
  return ax::kSuccess;
}

std::optional<Pid> WaylandDesktop::pidOf(const AXElement& element) {
  // Answered from the handle itself, so elements of windows that closed still know it.
  const WaylandElement* e = waylandElement(element);
  if (!e || e->kind == WaylandElement::Kind::systemWide) return std::nullopt;
  return e->pid;
}

int WaylandDesktop::windowNumber(const AXElement& element, std::uint32_t& number) {
  App* app = nullptr;
  const Window* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return error;
  if (!window) return ax::kFailure;
  // Window numbers are 32 bits wide everywhere in the core; a source that ran through four
  // billion toplevels has ids it cannot name.
  if (window->state.id > std::numeric_limits<std::uint32_t>::max()) return ax::kInvalidUIElement;
  number = static_cast<std::uint32_t>(window->state.id);
  return ax::kSuccess;
}

std::unique_ptr<AXObserver> WaylandDesktop::createObserver(Pid pid, ObserverCallback callback,
                                                           int& error) {
  error = !trusted_ ? kAPIDisabled : !findApp(pid) ? ax::kInvalidUIElement : ax::kSuccess;
  if (error != ax::kSuccess) return nullptr;
  return observers_.addAccessibility(
      pid, std::move(callback),
      [this](Pid observed, const AXElement& element, std::string_view notification) {
        return checkNotification(observed, element, notification);
      });
}

int WaylandDesktop::checkNotification(Pid observed, const AXElement& element,
                                      std::string_view notification) {
  App* app = nullptr;
  const Window* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return error;
  if (observed != app->pid) return ax::kFailure;
  // Focus changes are all the compositor tells; they concern the application.
  if (window || notification != ax::kFocusedWindowChanged) return kNotificationUnsupported;
  return ax::kSuccess;
}

}  // namespace tolvane::wayland
