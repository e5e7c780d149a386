// The Wayland desktop's answers to the model's questions about one toplevel: its element, its
// attributes, and what minimizing, restoring and raising it ask. (Elements, application
// attributes and observers: desktop_model/model_accessibility.cpp.)
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

#include <utility>

namespace tolvane::wayland {

AXElement WaylandDesktop::windowElement(desktop::WindowNumber id) const {
  const Pid pid = windows_.at(id).pid;
  const App* app = findApp(pid);
  return std::make_shared<desktop::DesktopElement>(desktop::DesktopElement::Kind::window, pid, id,
                                                   app ? app->serial : 0);
}

bool WaylandDesktop::windowReachable(const App& owner,
                                     const desktop::DesktopElement& element) const {
  const Window* window = findWindow(element.window);
  return owner.serial == element.serial && window && window->pid == element.pid;
}

std::optional<desktop::WindowNumber> WaylandDesktop::focusedWindowOf(const App& app) const {
  const Window* focused = focused_ ? findWindow(*focused_) : nullptr;
  if (focused && focused->pid == app.pid) return focused_;
  return lastFocusedOf(app);
}

AXResult WaylandDesktop::windowAttribute(App& app, const desktop::DesktopElement& element,
                                         std::string_view attribute) {
  const ToplevelState& state = windows_.at(element.window).state;
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

int WaylandDesktop::minimize(const desktop::DesktopElement& element) {
  return source_.setMinimized(element.window, true) ? ax::kSuccess : ax::kInvalidUIElement;
}

bool WaylandDesktop::restore(const desktop::DesktopElement& element) {
  // An activation, which un-minimizes first.
  return requestActivation(element.window);
}

bool WaylandDesktop::raise(const desktop::DesktopElement& element) {
  return requestActivation(element.window);
}

}  // namespace tolvane::wayland
