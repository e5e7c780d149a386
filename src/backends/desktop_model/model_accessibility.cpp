// The desktop model as the accessibility service: element identity, the application's
// attributes, the checks every call on an element makes and the focus observers. What a
// window is (its attributes, what raising or minimizing it asks) is each desktop's.
//
//   Accessibility                    | from the model
//   ---------------------------------+-------------------------------------------------------------
//   trusted (with or without prompt) | what the desktop last reported (setTrusted)
//   application element              | the application of a pid, by its serial; a pid that does
//                                    | not run names no incarnation (serial 0): dead
//   window element                   | the desktop's windowElement, alive by windowReachable
//   AXWindows                        | the application's windows in the desktop's order
//   AXFocusedWindow                  | the desktop's focusedWindowOf, else kNoValue
//   other application attributes     | kAttributeUnsupported
//   AXMain (set)                     | kept here: only an activation moves the focus
//   AXMinimized (set)                | true: the desktop's minimize; false: its restore, and the
//                                    | next activation is for that window
//   AXRaise                          | the desktop's raise; the next activation is for it
//   kFailure -25200                  | not an element of this desktop, the system-wide element
//   kInvalidUIElement -25202         | the application ended or the window went
//   kCannotComplete -25204           | the display server's connection is lost
//   kAPIDisabled -25211              | the display server lends no windows
//   messaging timeout                | accepted and ignored
//   AXFocusedWindowChanged observer  | on application elements only (focusMoved's notes)
#include <cmath>
#include <limits>
#include <utility>

#include "backends/desktop_model/desktop_model.h"

namespace tolvane::desktop {

AXElement DesktopModel::applicationElement(Pid pid) {
  const App* app = findApp(pid);
  return std::make_shared<DesktopElement>(DesktopElement::Kind::application, pid, 0,
                                          app ? app->serial : 0);
}

AXElement DesktopModel::systemWideElement() {
  return std::make_shared<DesktopElement>(DesktopElement::Kind::systemWide, 0, 0, 0);
}

int DesktopModel::availability() const {
  if (connectionLost()) return ax::kCannotComplete;
  return trusted_ ? ax::kSuccess : kAPIDisabled;
}

int DesktopModel::reach(const AXElement& element, App*& app, const DesktopElement*& found) {
  app = nullptr;
  found = elementOf(element);
  if (!found || found->kind == DesktopElement::Kind::systemWide) return ax::kFailure;
  if (const int error = availability(); error != ax::kSuccess) return error;
  App* owner = findApp(found->pid);
  if (!owner) return ax::kInvalidUIElement;
  const bool alive = found->kind == DesktopElement::Kind::application
                         ? owner->serial == found->serial
                         : windowReachable(*owner, *found);
  if (!alive) return ax::kInvalidUIElement;
  app = owner;
  return ax::kSuccess;
}

AXResult DesktopModel::copyAttribute(const AXElement& element, std::string_view attribute) {
  App* app = nullptr;
  const DesktopElement* e = nullptr;
  if (const int error = reach(element, app, e); error != ax::kSuccess) return failure(error);
  if (e->kind == DesktopElement::Kind::application) return applicationAttribute(*app, attribute);
  return windowAttribute(*app, *e, attribute);
}

AXResult DesktopModel::applicationAttribute(const App& app, std::string_view attribute) {
  if (attribute == ax::kWindows) {
    std::vector<AXElement> list;
    list.reserve(app.windows.size());
    for (auto window : app.windows) list.push_back(windowElement(window));
    return value(std::move(list));
  }
  if (attribute == ax::kFocusedWindow) {
    if (const auto focused = focusedWindowOf(app)) return value(windowElement(*focused));
    return failure(ax::kNoValue);
  }
  return failure(ax::kAttributeUnsupported);
}

int DesktopModel::setAttribute(const AXElement& element, std::string_view attribute,
                               const AXValue& newValue) {
  const Busy busy(*this);
  App* app = nullptr;
  const DesktopElement* e = nullptr;
  if (const int error = reach(element, app, e); error != ax::kSuccess) return error;
  if (e->kind != DesktopElement::Kind::window ||
      (attribute != ax::kMinimized && attribute != ax::kMain)) {
    return ax::kAttributeUnsupported;
  }
  const bool* flag = std::get_if<bool>(&newValue);
  if (!flag) return ax::kFailure;
  if (const int alive = actionable(*e); alive != ax::kSuccess) return alive;
  if (attribute == ax::kMain) {
    // Main, not focused: only an activation moves the focus.
    if (*flag) {
      app->main = e->window;
    } else if (app->main == e->window) {
      app->main.reset();
    }
    return ax::kSuccess;
  }
  if (*flag) return minimize(*e);
  // Restoring is an activation; the next activate is for it. Nothing of `app` is read after:
  // the request may report a change that regroups.
  const Raise restored{e->pid, e->window, e->serial, true};
  if (!restore(*e)) return ax::kInvalidUIElement;
  lastRaise_ = restored;
  return ax::kSuccess;
}

int DesktopModel::performAction(const AXElement& element, std::string_view action) {
  const Busy busy(*this);
  if (const DesktopElement* e = elementOf(element);
      e && e->kind == DesktopElement::Kind::window && action == ax::kRaise) {
    lastRaise_ = Raise{e->pid, e->window, e->serial};
  }
  App* app = nullptr;
  const DesktopElement* e = nullptr;
  if (const int error = reach(element, app, e); error != ax::kSuccess) return error;
  if (e->kind != DesktopElement::Kind::window || action != ax::kRaise) return ax::kFailure;
  if (const int alive = actionable(*e); alive != ax::kSuccess) return alive;
  if (!raise(*e)) return ax::kInvalidUIElement;
  if (lastRaise_) lastRaise_->sent = true;
  return ax::kSuccess;
}

int DesktopModel::setMessagingTimeout(const AXElement& element, double seconds) {
  if (!elementOf(element) || std::isnan(seconds) || seconds < 0) return ax::kFailure;
  return ax::kSuccess;
}

std::optional<Pid> DesktopModel::pidOf(const AXElement& element) {
  // Answered from the handle itself, so elements of windows that closed still know it.
  const DesktopElement* e = elementOf(element);
  if (!e || e->kind == DesktopElement::Kind::systemWide) return std::nullopt;
  return e->pid;
}

int DesktopModel::windowNumber(const AXElement& element, std::uint32_t& number) {
  App* app = nullptr;
  const DesktopElement* e = nullptr;
  if (const int error = reach(element, app, e); error != ax::kSuccess) return error;
  if (e->kind != DesktopElement::Kind::window) return ax::kFailure;
  // Window numbers are 32 bits wide everywhere in the core; a display server that ran through
  // four billion windows has numbers it cannot name.
  if (e->window > std::numeric_limits<std::uint32_t>::max()) return ax::kInvalidUIElement;
  number = static_cast<std::uint32_t>(e->window);
  return ax::kSuccess;
}

std::unique_ptr<AXObserver> DesktopModel::createObserver(Pid pid, ObserverCallback callback,
                                                         int& error) {
  error = availability();
  if (error == ax::kSuccess && !findApp(pid)) error = ax::kInvalidUIElement;
  if (error != ax::kSuccess) return nullptr;
  return observers_.addAccessibility(
      pid, std::move(callback),
      [this](Pid observed, const AXElement& element, std::string_view notification) {
        return checkNotification(observed, element, notification);
      });
}

int DesktopModel::checkNotification(Pid observed, const AXElement& element,
                                    std::string_view notification) {
  App* app = nullptr;
  const DesktopElement* e = nullptr;
  if (const int error = reach(element, app, e); error != ax::kSuccess) return error;
  if (observed != app->pid) return ax::kFailure;
  // Focus changes are all the display server tells; they concern the application.
  if (e->kind == DesktopElement::Kind::window || notification != ax::kFocusedWindowChanged) {
    return kNotificationUnsupported;
  }
  return ax::kSuccess;
}

}  // namespace tolvane::desktop
