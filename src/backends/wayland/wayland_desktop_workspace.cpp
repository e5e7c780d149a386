// The Wayland desktop's activations: which toplevel an application's activation asks for, and
// when the compositor's answer counts. (Running applications, launching, icons and the
// catalog: desktop_model/model_workspace.cpp; the state they read: wayland_desktop.cpp.)
//
//   Workspace                        | on Wayland
//   ---------------------------------+-------------------------------------------------------------
//   running application              | the toplevels of one app_id (one without: its own)
//   pid                              | Options::ownPid for ownAppId and for windows the
//                                    | compositor says are ours; the compositor's (or sway's
//                                    | view) pid when no other application shares it; else
//                                    | kSyntheticPidBase + n
//   bundle id, localized name        | the desktop entry the app_id names (by id, else as a
//                                    | window class), else the app_id itself
//   activation policy                | always regular
//   frontmost application            | the owner of the toplevel activated last
//   launched / terminated            | an application's first window appears / last one closes
//   activated                        | the frontmost application changes
//   activate                         | sway focuses a window on a hidden workspace, then the
//                                    | toplevel's activate request; answered by ActivationWait
#include "backends/wayland/wayland_desktop.h"

#include <algorithm>
#include <utility>

namespace tolvane::wayland {

bool WaylandDesktop::activate(Pid pid, ActivationAnswer answer) {
  const Busy busy(*this);
  const App* app = findApp(pid);
  const auto raise = std::exchange(lastRaise(), std::nullopt);
  if (!app || !trusted()) {
    refuse(std::move(answer));
    return false;
  }
  std::optional<ToplevelId> target;
  if (raise && raise->pid == pid) {
    // The user picked that window: another one of the application would undo the choice, so a
    // raised window that closed since is a refusal.
    const Window* window = findWindow(raise->window);
    if (!window || window->pid != pid) {
      refuse(std::move(answer));
      return false;
    }
    if (raise->sent) {
      activation_.start(raise->window, std::move(answer));
      return true;
    }
    target = raise->window;
  } else {
    target = activationTarget(*app);
  }
  if (!target || !requestActivation(*target)) {
    refuse(std::move(answer));
    return false;
  }
  activation_.start(*target, std::move(answer));
  return true;
}

std::optional<ToplevelId> WaylandDesktop::activationTarget(const App& app) const {
  const auto own = [&](std::optional<ToplevelId> id) {
    return id && std::find(app.windows.begin(), app.windows.end(), *id) != app.windows.end();
  };
  if (own(app.main)) return app.main;
  if (const auto last = lastFocusedOf(app)) return last;
  if (!app.windows.empty()) return app.windows.front();
  return std::nullopt;
}

bool WaylandDesktop::requestActivation(ToplevelId id) {
  if (!findWindow(id)) return false;
  // Sway only marks a window on a hidden workspace urgent when another client asks to
  // activate it; focusing its container first switches the workspace.
  if (const sway::SwayView* view = viewOf(id);
      view && !view->workspaceVisible && sway_.focusByCon) {
    sway_.focusByCon(view->conId);
  }
  return source_.activate(id);
}

void WaylandDesktop::refuse(ActivationAnswer answer) {
  if (answer) loop().post([answer = std::move(answer)] { answer(false); });
}

}  // namespace tolvane::wayland
