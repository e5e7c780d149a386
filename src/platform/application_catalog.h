// The applications installed on this computer, running or not.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvane {

/// An application the user could pick: its bundle id (on X11 the desktop-file id) and its name
/// in the user's language.
struct InstalledApplication {
  std::string bundleID;
  std::string name;
  bool operator==(const InstalledApplication&) const = default;
};

/// The applications installed on this computer, whether running or not.
class ApplicationCatalog {
 public:
  virtual ~ApplicationCatalog() = default;
  /// Every application a user could start, sorted by name; entries marked as not for menus
  /// are left out.
  virtual std::vector<InstalledApplication> installedApplications() = 0;
  /// The name of the application with this bundle id in the user's language; nothing when no
  /// installed application has it.
  virtual std::optional<std::string> displayName(const std::string& bundleID) = 0;
};

}  // namespace tolvane
