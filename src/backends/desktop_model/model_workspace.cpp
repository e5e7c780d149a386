// The desktop model as the workspace, the catalog of installed applications and the window
// server's shared part. Activation and the window lists are each desktop's.
//
//   Workspace / WindowServer         | from the model
//   ---------------------------------+-------------------------------------------------------------
//   running applications             | the groups the desktop reported, in order of appearance
//   frontmost application            | the owner of the window focused last (focusMoved)
//   launched / terminated            | a group's first report / the first report without it
//   activated                        | the frontmost application changes
//   hidden, unhide                   | never hidden; unhide does nothing
//   open application / URL           | the entry's Exec, detached / xdg-open, gio open, browsers
//   application icon                 | a PNG of the entry's Icon: its path, or the hicolor sizes
//                                    | under the XDG data folders
//   ApplicationCatalog               | every desktop entry not NoDisplay, sorted by name
//   connection id, Spaces            | kConnectionID while available; the desktop's spaces
//   remote tokens, symbolic hotkeys  | none
//   process exists                   | kill(pid, 0); a synthetic pid while its app has windows
#include <signal.h>

#include <cerrno>
#include <utility>

#include "backends/desktop_model/desktop_model.h"
#include "backends/system/entry_applications.h"

namespace tolvane::desktop {

std::vector<RunningApp> DesktopModel::runningApplications() const {
  std::vector<RunningApp> result;
  result.reserve(apps_.size());
  for (const auto& app : apps_) result.push_back(app.info);
  return result;
}

std::optional<RunningApp> DesktopModel::application(Pid pid) const {
  const App* app = findApp(pid);
  if (!app) return std::nullopt;
  return app->info;
}

ObserverToken DesktopModel::addObserver(WorkspaceEvent event, AppHandler handler) {
  return observers_.addWorkspace(event, std::move(handler));
}

void DesktopModel::openApplication(const std::string& bundleLocation) {
  system::launchEntryAt(entries_, bundleLocation);
}

bool DesktopModel::openURL(const std::string& url) {
  return system::openURLDetached(url);
}

std::optional<std::string> DesktopModel::iconPNG(const std::string& bundleID) const {
  return system::entryIconPNG(entries_, bundleID);
}

std::vector<InstalledApplication> DesktopModel::installedApplications() {
  return system::installedApplications(entries_);
}

std::optional<std::string> DesktopModel::displayName(const std::string& bundleID) {
  return system::entryDisplayName(entries_, bundleID);
}

std::optional<std::int32_t> DesktopModel::mainConnectionID() {
  if (availability() != ax::kSuccess) return std::nullopt;
  return kConnectionID;
}

std::optional<std::vector<std::uint64_t>> DesktopModel::copySpaces(std::int32_t connection, int) {
  if (connection != kConnectionID || availability() != ax::kSuccess) return std::nullopt;
  return spaces();
}

std::optional<std::vector<std::uint32_t>> DesktopModel::copyWindowsOnSpaces(
    std::int32_t connection, const std::vector<std::uint64_t>& spaces) {
  if (connection != kConnectionID || availability() != ax::kSuccess) return std::nullopt;
  return windowsOnSpaces(spaces);
}

bool DesktopModel::processExists(Pid pid) {
  if (pid <= 0) return false;
  if (pid >= kSyntheticPidBase) return findApp(pid) != nullptr;
  return processRuns(pid);
}

bool DesktopModel::processRuns(Pid pid) {
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace tolvane::desktop
