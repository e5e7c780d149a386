// Application icons by bundle id, as the desktop's icon theme provides them.
#pragma once

#include <QIcon>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tolvane::qt {

/// Looks icons up in the icon theme once per bundle id. Main thread only.
class AppIcons {
 public:
  /// The desktop's own icon of an application as PNG bytes (from its desktop entry), or
  /// nothing.
  using Source = std::function<std::optional<std::string>(const std::string& bundleID)>;

  explicit AppIcons(Source source = {}) : source_(std::move(source)) {}

  /// The application's own icon from the source; else the theme icon named after `bundleID`
  /// (as given, then lower-cased, since an X11 class name such as "XTerm" names the icon
  /// "xterm"); else the theme's generic application icon; a null icon when there is none of
  /// these, and the caller draws a placeholder.
  QIcon icon(const std::optional<std::string>& bundleID);

  /// Forgets every lookup, for when the icon theme changes.
  void clear() { cache_.clear(); }

 private:
  QIcon lookUp(const std::string& bundleID) const;

  Source source_;
  std::map<std::string, QIcon> cache_;
};

}  // namespace tolvane::qt
