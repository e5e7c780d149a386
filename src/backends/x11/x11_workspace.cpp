// The X11 desktop as the workspace and the catalog of installed applications: running
// applications, activation, launching, icons. (The cache they read: x11_desktop.cpp.)
//
//   Workspace                        | on X11
//   ---------------------------------+-------------------------------------------------------------
//   running application, pid         | clients of _NET_CLIENT_LIST grouped by a live local
//                                    | _NET_WM_PID, else by creating X client (kSyntheticPidBase+n)
//   bundle id, localized name        | the desktop entry of _GTK_APPLICATION_ID or WM_CLASS (its
//                                    | id, Name for the locale), else the WM_CLASS class
//   regular activation policy        | a window of type normal or dialog, not skip-taskbar; else
//                                    | accessory
//   hidden, unhide                   | never hidden; unhide does nothing
//   frontmost application            | the owner of _NET_ACTIVE_WINDOW
//   launched / terminated            | a process's first window enters / last leaves the list
//   activated                        | PropertyNotify of _NET_ACTIVE_WINDOW on the root window
//   activate                         | _NET_ACTIVE_WINDOW to its main, last active or topmost
//                                    | window; answered by x11_desktop_activation.cpp
//   open application / URL           | the entry's Exec, detached / xdg-open, gio open, browsers
//   application icon                 | a PNG of the entry's Icon: its path, or the hicolor sizes
//                                    | under the XDG data folders
//   ApplicationCatalog               | every desktop entry not NoDisplay, sorted by name
#include "backends/x11/x11_desktop.h"

#include "backends/system/entry_applications.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "backends/x11/x11_window_icons.h"

namespace tolvane::x11 {

std::vector<RunningApp> X11Desktop::runningApplications() const {
  std::vector<RunningApp> result;
  result.reserve(apps_.size());
  for (const auto& app : apps_) result.push_back(app.info);
  return result;
}

std::optional<RunningApp> X11Desktop::application(Pid pid) const {
  const App* app = findApp(pid);
  if (!app) return std::nullopt;
  return app->info;
}

std::optional<Pid> X11Desktop::frontmostPid() const {
  return frontmost_;
}

ObserverToken X11Desktop::addObserver(WorkspaceEvent event, AppHandler handler) {
  return observers_.addWorkspace(event, std::move(handler));
}

void X11Desktop::unhide(Pid) {}

bool X11Desktop::activate(Pid pid, ActivationAnswer answer) {
  App* app = findApp(pid);
  if (!app || connectionLost()) {
    lastRaise_.reset();
    if (answer) answer(false);
    return false;
  }
  // A raise of one of its windows just asked for exactly this: picking a window here would
  // undo the user's choice.
  if (lastRaise_ && lastRaise_->sent && lastRaise_->pid == pid && isManaged(lastRaise_->window)) {
    watchActivation(pid, std::move(answer));
    return true;
  }
  std::optional<xcb_window_t> target;
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
    lastRaise_.reset();
    if (answer) answer(false);
    return false;
  }
  activateWindow(*target);
  watchActivation(pid, std::move(answer));
  return true;
}

void X11Desktop::openApplication(const std::string& bundleLocation) {
  system::launchEntryAt(entries_, bundleLocation);
}

bool X11Desktop::openURL(const std::string& url) {
  return system::openURLDetached(url);
}

std::optional<std::string> X11Desktop::iconPNG(const std::string& bundleID) const {
  return system::entryIconPNG(entries_, bundleID);
}

std::vector<InstalledApplication> X11Desktop::installedApplications() {
  return system::installedApplications(entries_);
}

std::optional<std::string> X11Desktop::displayName(const std::string& bundleID) {
  return system::entryDisplayName(entries_, bundleID);
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
