// The Wayland desktop as the workspace and the catalog of installed applications: running
// applications, activation, launching, icons. (The state they read: wayland_desktop.cpp.)
//
//   Workspace                        | on Wayland
//   ---------------------------------+-------------------------------------------------------------
//   running application              | the toplevels of one app_id (one without: its own)
//   pid                              | Options::ownPid for ownAppId; sway's view pid when no
//                                    | other application shares it; else kSyntheticPidBase + n
//   bundle id, localized name        | the desktop entry the app_id names (by id, else as a
//                                    | window class), else the app_id itself
//   activation policy, hidden        | always regular; never hidden, unhide does nothing
//   frontmost application            | the owner of the toplevel activated last
//   launched / terminated            | an application's first window appears / last one closes
//   activated                        | the frontmost application changes
//   activate                         | sway focuses a window on a hidden workspace, then the
//                                    | toplevel's activate request; answered by ActivationWait
//   open application / URL           | the entry's Exec, detached / xdg-open, gio open, browsers
//   application icon                 | a PNG of the entry's Icon
//   ApplicationCatalog               | every desktop entry not NoDisplay, sorted by name
#include "backends/wayland/wayland_desktop.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace tolvane::wayland {

std::vector<RunningApp> WaylandDesktop::runningApplications() const {
  std::vector<RunningApp> result;
  result.reserve(apps_.size());
  for (const auto& app : apps_) result.push_back(app.info);
  return result;
}

std::optional<RunningApp> WaylandDesktop::application(Pid pid) const {
  const App* app = findApp(pid);
  if (!app) return std::nullopt;
  return app->info;
}

ObserverToken WaylandDesktop::addObserver(WorkspaceEvent event, AppHandler handler) {
  const ObserverToken token = nextWorkspaceToken_++;
  workspaceObservers_.emplace(token, WorkspaceObserver{event, std::move(handler)});
  return token;
}

bool WaylandDesktop::activate(Pid pid, ActivationAnswer answer) {
  const Busy busy(*this);
  const App* app = findApp(pid);
  const auto raise = std::exchange(lastRaise_, std::nullopt);
  if (!app || !trusted_) {
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
  if (answer) loop_.post([answer = std::move(answer)] { answer(false); });
}

void WaylandDesktop::openApplication(const std::string& bundleLocation) {
  const auto entry = entries_.atPath(bundleLocation);
  if (!entry) return;
  if (const auto args = system::execArguments(*entry, entries_.localizedName(*entry))) {
    system::launchDetached(*args);
  }
}

bool WaylandDesktop::openURL(const std::string& url) {
  if (url.empty()) return false;
  // The desktop's own opener first; the browser alternatives only for web addresses.
  std::vector<std::vector<std::string>> openers{{"xdg-open", url}, {"gio", "open", url}};
  if (url.starts_with("http://") || url.starts_with("https://")) {
    openers.push_back({"x-www-browser", url});
    openers.push_back({"sensible-browser", url});
  }
  return std::any_of(openers.begin(), openers.end(),
                     [](const auto& command) { return system::launchDetached(command); });
}

std::optional<std::string> WaylandDesktop::iconPNG(const std::string& bundleID) const {
  const DesktopEntry* entry = entries_.byID(bundleID);
  if (!entry) return std::nullopt;
  return entries_.iconPNG(*entry);
}

std::vector<InstalledApplication> WaylandDesktop::installedApplications() {
  std::vector<InstalledApplication> apps;
  for (const DesktopEntry& entry : entries_.all()) {
    if (!entry.noDisplay) apps.push_back({entry.id, entries_.localizedName(entry)});
  }
  const auto folded = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::stable_sort(apps.begin(), apps.end(),
                   [&](const auto& a, const auto& b) { return folded(a.name) < folded(b.name); });
  return apps;
}

std::optional<std::string> WaylandDesktop::displayName(const std::string& bundleID) {
  const DesktopEntry* entry = entries_.byID(bundleID);
  if (!entry) return std::nullopt;
  return entries_.localizedName(*entry);
}

}  // namespace tolvane::wayland
