// Icon theme lookups for application icons, with a generic fallback.
#include "ui/qt/app_icons.h"

#include <QPixmap>

namespace tolvane::qt {

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
    if (!icon.isNull()) return icon;
  }
  return QIcon::fromTheme(QStringLiteral("application-x-executable"));
}

QIcon AppIcons::icon(const std::optional<std::string>& bundleID) {
  const std::string key = bundleID.value_or(std::string());
  auto it = cache_.find(key);
  if (it == cache_.end()) it = cache_.emplace(key, lookUp(key)).first;
  return it->second;
}

}  // namespace tolvane::qt
