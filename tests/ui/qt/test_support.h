// What the Qt tests share: a palette described as the core would describe it, and the pixels a
// widget paints, compared.
#pragma once

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdlib>
#include <string>
#include <utility>

#include "settings/theme.h"
#include "views/palette_panel_view.h"

namespace tolvane::test {

/// A palette of `count` rows with the `selected` one filled, the first nine with shortcuts.
inline PalettePanelView paletteView(int count, int selected = 0, Rect frame = {40, 30, 600, 420}) {
  PalettePanelView view;
  view.frame = frame;
  view.placeholder = "Search windows…";
  view.focusRequestID = 1;
  for (int i = 0; i < count; ++i) {
    PaletteRowView row{.windowID = 1000u + static_cast<std::uint32_t>(i), .index = i};
    row.title = "Quarterly report " + std::to_string(i + 1);
    row.subtitle = "Editor";
    row.titlePaint = {SemanticColor::primary, 1};
    row.subtitlePaint = {SemanticColor::secondary, 1};
    if (i < 9) row.shortcut = "Super+" + std::to_string(i + 1);
    row.shortcutPaint = {SemanticColor::primary, 0.3};
    if (i == selected) {
      row.selected = true;
      row.background = {SemanticColor::accent, 1};
      row.titlePaint = {SemanticColor::white, 1};
      view.selectedID = row.windowID;
    }
    view.rows.push_back(row);
  }
  view.hints = {{"↩", "Switch"}, {"Super+1–9", "Jump"}, {"↑↓", "Select"}, {"esc", "Close"}};
  return view;
}

/// The window as it reaches the screen: painted over nothing, cut by its mask when it has one.
inline QImage rendered(QWidget& window) {
  QImage image(window.size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  window.render(&image);
  return image;
}

inline bool sameColour(const QColor& a, const QColor& b, int tolerance = 2) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

inline QColor accent() {
  return QColor::fromRgbF(theme::kAccent.red, theme::kAccent.green, theme::kAccent.blue);
}

/// Pixels that differ between two renderings, inside and outside `area`.
inline std::pair<int, int> differences(const QImage& a, const QImage& b, const QRect& area) {
  int inside = 0;
  int outside = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) ++(area.contains(x, y) ? inside : outside);
    }
  }
  return {inside, outside};
}

/// Deletes the widgets a repaint or a close retired with deleteLater(), as the event loop would.
inline void dropRetiredWidgets() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace tolvane::test
