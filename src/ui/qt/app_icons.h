// Application icons by bundle id, as the desktop's icon theme provides them.
#pragma once

#include <QIcon>
#include <map>
#include <optional>
#include <string>

namespace tolvane::qt {

/// Looks icons up in the icon theme once per bundle id. Main thread only.
class AppIcons {
 public:
  /// The theme icon named after `bundleID` (as given, then lower-cased, since an X11 class
  /// name such as "XTerm" names the icon "xterm"), else the theme's generic application
  /// icon; a null icon when the theme has neither, and the caller draws a placeholder.
  QIcon icon(const std::optional<std::string>& bundleID);

  /// Forgets every lookup, for when the icon theme changes.
  void clear() { cache_.clear(); }

 private:
  std::map<std::string, QIcon> cache_;
};

}  // namespace tolvane::qt
