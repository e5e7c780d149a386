// Icons of the rows: a window's own icon, else its application's by bundle id, as the desktop's
// icon theme provides them; none at all when neither has one, and the row draws its placeholder.
#pragma once

#include <QIcon>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/window_icon.h"

namespace tolvane::qt {

/// Looks icons up once per bundle id and application launch, and scales each window's own icon
/// once per size. A miss is not remembered: the application may be installed or its icon
/// appear later, and asking again is cheaper than showing a placeholder for the whole session.
/// Main thread only.
class AppIcons {
 public:
  /// The desktop's own icon of an application as PNG bytes (from its desktop entry), or
  /// nothing.
  using Source = std::function<std::optional<std::string>(const std::string& bundleID)>;
  /// A window's own icon, the one of its sizes nearest to `side` pixels; null when it has none
  /// (or is gone). The same pointer comes back for as long as the icon is unchanged, so what was
  /// scaled from it is kept.
  using WindowSource =
      std::function<std::shared_ptr<const WindowIcon>(std::uint32_t windowID, int side)>;

  explicit AppIcons(Source source = {}, WindowSource windows = {})
      : source_(std::move(source)), windows_(std::move(windows)) {}

  /// The application's own icon from the source; else the theme icon named after `bundleID`
  /// (as given, then lower-cased, since an X11 class name such as "XTerm" names the icon
  /// "xterm"); a null icon when there is neither, and the caller draws the grey placeholder.
  QIcon icon(const std::optional<std::string>& bundleID);
  /// The window's own icon scaled to `side` device pixels when it has one; else as above.
  QIcon icon(std::optional<std::uint32_t> windowID, const std::optional<std::string>& bundleID,
             int side);

  /// Forgets every lookup, for when the icon theme changes.
  void clear() {
    cache_.clear();
    windowCache_.clear();
  }

  /// An application with this bundle id launched: every instance reads its icon again on next
  /// use, so a relaunched or updated application shows its current icon.
  static void applicationLaunched(const std::string& bundleID);

 private:
  struct CachedIcon {
    QIcon icon;
    /// The application's launch count when the icon was read.
    std::uint64_t launches = 0;
  };
  struct ScaledWindowIcon {
    std::shared_ptr<const WindowIcon> from;
    int side = 0;
    QIcon icon;
  };

  QIcon lookUp(const std::string& bundleID) const;
  std::optional<QIcon> windowIcon(std::uint32_t windowID, int side);

  Source source_;
  WindowSource windows_;
  std::map<std::string, CachedIcon> cache_;
  std::map<std::uint32_t, ScaledWindowIcon> windowCache_;
};

}  // namespace tolvane::qt
