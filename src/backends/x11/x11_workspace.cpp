// The X11 desktop's activations and window icons. (Running applications, launching,
// application icons and the catalog: desktop_model/model_workspace.cpp; the cache they read:
// x11_desktop.cpp.)
//
//   Workspace                        | on X11
//   ---------------------------------+-------------------------------------------------------------
//   running application, pid         | clients of _NET_CLIENT_LIST grouped by a live local
//                                    | _NET_WM_PID, else by creating X client (kSyntheticPidBase+n)
//   bundle id, localized name        | the desktop entry of _GTK_APPLICATION_ID or WM_CLASS (its
//                                    | id, Name for the locale), else the WM_CLASS class
//   regular activation policy        | a window of type normal or dialog, not skip-taskbar; else
//                                    | accessory
//   frontmost application            | the owner of _NET_ACTIVE_WINDOW
//   launched / terminated            | a process's first window enters / last leaves the list
//   activated                        | PropertyNotify of _NET_ACTIVE_WINDOW on the root window
//   activate                         | _NET_ACTIVE_WINDOW to its main, last active or topmost
//                                    | window; answered by x11_desktop_activation.cpp
#include "backends/x11/x11_desktop.h"

#include <utility>

#include "backends/x11/x11_window_icons.h"

namespace tolvane::x11 {

bool X11Desktop::activate(Pid pid, ActivationAnswer answer) {
  App* app = findApp(pid);
  if (!app || connectionLost()) {
    lastRaise().reset();
    if (answer) answer(false);
    return false;
  }
  // A raise of one of its windows just asked for exactly this: picking a window here would
  // undo the user's choice.
  if (const auto& raised = lastRaise();
      raised && raised->sent && raised->pid == pid && isManaged(raised->window)) {
    watchActivation(pid, std::move(answer));
    return true;
  }
  std::optional<desktop::WindowNumber> target;
  if (isManaged(app->main)) {
    target = app->main;
  } else if (isManaged(app->lastActive)) {
    target = app->lastActive;
  } else {
    for (auto it = stacking_.rbegin(); it != stacking_.rend() && !target; ++it) {
      if (const Client* client = findClient(*it); client && client->pid == pid) target = *it;
    }
    if (!target && !app->windows.empty()) target = app->windows.front();
  }
  if (!target) {
    lastRaise().reset();
    if (answer) answer(false);
    return false;
  }
  activateWindow(static_cast<xcb_window_t>(*target));
  watchActivation(pid, std::move(answer));
  return true;
}

std::shared_ptr<const WindowIcon> X11Desktop::windowIcon(std::uint32_t window, int side) {
  if (connectionLost()) return nullptr;
  auto it = clients_.find(window);
  if (it == clients_.end() || it->second.destroyed) return nullptr;
  Client& client = it->second;
  const auto read = [&] {
    auto icon = readWindowIcon(xcb_, window, atoms_.wmIcon, side);
    return icon ? icon : readHintsIcon(xcb_, window);
  };
  // Only a followed window tells when its icon changes; any other is read each time.
  if (!client.followed) return read();
  auto cached = client.icons.find(side);
  if (cached == client.icons.end()) cached = client.icons.emplace(side, read()).first;
  return cached->second;
}

}  // namespace tolvane::x11
