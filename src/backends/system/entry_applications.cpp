// Applications through their desktop entries.
#include "backends/system/entry_applications.h"

#include <algorithm>
#include <cctype>

namespace tolvane::system {

void launchEntryAt(DesktopEntries& entries, const std::string& path) {
  const auto entry = entries.atPath(path);
  if (!entry) return;
  if (const auto args = execArguments(*entry, entries.localizedName(*entry))) {
    launchDetached(*args);
  }
}

bool openURLDetached(const std::string& url) {
  if (url.empty()) return false;
  // The desktop's own opener first; the browser alternatives only for web addresses.
  std::vector<std::vector<std::string>> openers{{"xdg-open", url}, {"gio", "open", url}};
  if (url.starts_with("http://") || url.starts_with("https://")) {
    openers.push_back({"x-www-browser", url});
    openers.push_back({"sensible-browser", url});
  }
  return std::any_of(openers.begin(), openers.end(),
                     [](const auto& command) { return launchDetached(command); });
}

std::optional<std::string> entryIconPNG(DesktopEntries& entries, const std::string& id) {
  const DesktopEntry* entry = entries.byID(id);
  if (!entry) return std::nullopt;
  return entries.iconPNG(*entry);
}

std::optional<std::string> entryDisplayName(DesktopEntries& entries, const std::string& id) {
  const DesktopEntry* entry = entries.byID(id);
  if (!entry) return std::nullopt;
  return entries.localizedName(*entry);
}

std::vector<InstalledApplication> installedApplications(DesktopEntries& entries) {
  std::vector<InstalledApplication> apps;
  for (const DesktopEntry& entry : entries.all()) {
    if (!entry.noDisplay) apps.push_back({entry.id, entries.localizedName(entry)});
  }
  const auto folded = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::stable_sort(apps.begin(), apps.end(),
                   [&](const auto& a, const auto& b) { return folded(a.name) < folded(b.name); });
  return apps;
}

}  // namespace tolvane::system
