// What a desktop of desktop entries answers about applications, the same on X11 and Wayland:
// starting one, opening a URL, an application's icon and name, and the installed list.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "backends/system/desktop_entries.h"
#include "platform/application_catalog.h"

namespace tolvane::system {

/// Starts the application whose desktop file is at `path`; nothing is awaited.
void launchEntryAt(DesktopEntries& entries, const std::string& path);
/// Opens `url` with the desktop's opener (the browser alternatives only for web addresses);
/// false when nothing could be started.
bool openURLDetached(const std::string& url);
/// The icon of the entry with this id, as PNG bytes.
std::optional<std::string> entryIconPNG(DesktopEntries& entries, const std::string& id);
/// The name of the entry with this id in the user's language.
std::optional<std::string> entryDisplayName(DesktopEntries& entries, const std::string& id);
/// Every entry meant for menus, sorted by name without case.
std::vector<InstalledApplication> installedApplications(DesktopEntries& entries);

}  // namespace tolvane::system
