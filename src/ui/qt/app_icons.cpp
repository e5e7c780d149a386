// Icon theme lookups for application icons, refreshed at each launch, and windows' own icons.
#include "ui/qt/app_icons.h"

#include <QImage>
#include <QPixmap>

namespace tolvane::qt {

namespace {

// Windows that went away leave their entry behind until asked for again; past this many the
// cache starts over rather than grow with every window ever shown.
constexpr std::size_t kMaxWindowIcons = 2048;

QImage imageOf(const WindowIcon& icon) {
  if (icon.width <= 0 || icon.height <= 0 ||
      icon.argb.size() !=
          static_cast<std::size_t>(icon.width) * static_cast<std::size_t>(icon.height)) {
    return {};
  }
  // Qt's ARGB32 is the same native-endian 0xAARRGGBB words; the copy detaches from `icon`.
  return QImage(reinterpret_cast<const uchar*>(icon.argb.data()), icon.width, icon.height,
                icon.width * 4, QImage::Format_ARGB32)
      .copy();
}

// Launches seen per bundle id, shared by every instance: the panels, the menu and the settings
// window each keep their own cache, and one launch must refresh them all.
std::map<std::string, std::uint64_t>& launchCounts() {
  static std::map<std::string, std::uint64_t> counts;
  return counts;
}

std::uint64_t launchesOf(const std::string& bundleID) {
  const auto& counts = launchCounts();
  const auto it = counts.find(bundleID);
  return it == counts.end() ? 0 : it->second;
}

}  // namespace

void AppIcons::applicationLaunched(const std::string& bundleID) {
  ++launchCounts()[bundleID];
}

QIcon AppIcons::lookUp(const std::string& bundleID) const {
  if (source_ && !bundleID.empty()) {
    if (const auto png = source_(bundleID)) {
      QPixmap pixmap;
      if (pixmap.loadFromData(reinterpret_cast<const uchar*>(png->data()),
                              static_cast<uint>(png->size()), "PNG")) {
        return QIcon(pixmap);
      }
    }
  }
  const QString name = QString::fromStdString(bundleID);
  if (!name.isEmpty()) {
    QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull() && name != name.toLower()) icon = QIcon::fromTheme(name.toLower());
    return icon;
  }
  return {};
}

QIcon AppIcons::icon(const std::optional<std::string>& bundleID) {
  if (!bundleID || bundleID->empty()) return {};
  const std::uint64_t launches = launchesOf(*bundleID);
  if (const auto it = cache_.find(*bundleID);
      it != cache_.end() && it->second.launches == launches) {
    return it->second.icon;
  }
  QIcon icon = lookUp(*bundleID);
  if (icon.isNull()) {
    cache_.erase(*bundleID);
  } else {
    cache_[*bundleID] = {icon, launches};
  }
  return icon;
}

QIcon AppIcons::icon(std::optional<std::uint32_t> windowID,
                     const std::optional<std::string>& bundleID, int side) {
  if (windowID && side > 0) {
    if (auto own = windowIcon(*windowID, side)) return *own;
  }
  return icon(bundleID);
}

std::optional<QIcon> AppIcons::windowIcon(std::uint32_t windowID, int side) {
  auto pixels = windows_ ? windows_(windowID, side) : nullptr;
  if (!pixels) {
    windowCache_.erase(windowID);
    return std::nullopt;
  }
  auto it = windowCache_.find(windowID);
  if (it != windowCache_.end() && it->second.from == pixels && it->second.side == side) {
    return it->second.icon;
  }
  const QImage image = imageOf(*pixels);
  if (image.isNull()) return std::nullopt;
  QIcon icon(
      QPixmap::fromImage(image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  if (windowCache_.size() >= kMaxWindowIcons) windowCache_.clear();
  windowCache_[windowID] = {std::move(pixels), side, icon};
  return icon;
}

}  // namespace tolvane::qt
