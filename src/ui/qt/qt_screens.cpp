// Screen geometry from QGuiApplication.
#include "ui/qt/qt_screens.h"

#include <QGuiApplication>
#include <QScreen>

namespace tolvane::qt {

std::optional<Rect> QtScreens::mainVisibleFrame() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return std::nullopt;
  const QRect area = screen->availableGeometry();
  return Rect{static_cast<double>(area.x()), static_cast<double>(area.y()),
              static_cast<double>(area.width()), static_cast<double>(area.height())};
}

int QtScreens::screenCount() const {
  return static_cast<int>(QGuiApplication::screens().size());
}

}  // namespace tolvane::qt
