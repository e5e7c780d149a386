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

#include "backends/sim/sim_preference_store.h"
#include "backends/system/posix_file_system.h"
#include "hud/switcher_view.h"
#include "localization/l10n.h"
#include "settings/theme.h"
#include "support/window_list.h"
#include "views/palette_panel_view.h"

namespace tolvane::test {

/// A palette of `count` rows, the first selected; what the rows show is the painter's business.
inline PalettePanelView paletteView(int count, Rect frame = {40, 30, 600, 420}) {
  PalettePanelView view{.frame = frame, .placeholder = "Search windows…", .focusRequestID = 1};
  for (int i = 0; i < count; ++i) {
    view.rows.push_back({.windowID = 1000u + static_cast<std::uint32_t>(i),
                         .index = i,
                         .selected = i == 0,
                         .title = "Quarterly report " + std::to_string(i + 1)});
  }
  view.selectedID = 1000u;
  return view;
}

/// The HUD as the core describes it in English for `count` windows on a usable area of
/// `screen`, placed at (40, 30).
struct EnglishSwitcher {
  EnglishSwitcher() { l10n.apply("en"); }
  SwitcherPanelView describe(int count, int selection, Size screen = {1512, 875}) {
    SwitcherModel model{editorWindows(count), selection, HUDLayout::compute(count, screen), {}};
    SwitcherPanelView view = describeSwitcher(model, l10n);
    view.frame = Rect{40, 30, view.size.width, view.size.height};
    return view;
  }
  sim::SimPreferenceStore preferences;
  system::PosixFileSystem files;
  FrameworkLanguage framework{files};
  L10n l10n{preferences, framework, {}};
};

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
