// Painting of the search palette from its description: the panel's chrome (backdrop, search
// row, hairlines, hints, border), one row of the result list, and the message that stands in
// for an empty list. Nothing here decides what to show; every text and colour comes from the
// view.
#pragma once

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/qt/app_icons.h"
#include "views/palette_panel_view.h"

namespace tolvane::qt {

/// What painting needs besides the description: the appearance and where icons come from.
struct PalettePaintContext {
  const QPalette& palette;
  /// The desktop's interface font; sizes are set per element.
  QFont font;
  AppIcons& icons;
  /// True when a compositor blends the panel over the desktop.
  bool translucent = false;
};

/// Text from a description as Qt paints it: malformed UTF-8 becomes U+FFFD and every control
/// character (line breaks, tabs, escapes, bidirectional embeddings) becomes U+FFFD as well, one
/// unit for one, so positions in the text stay where they were.
QString paintableText(const std::string& utf8);

/// UTF-8 byte ranges of `utf8` as ranges of UTF-16 positions of QString::fromUtf8(utf8):
/// (start, length) pairs, clipped to the text; empty ranges are dropped.
std::vector<std::pair<int, int>> utf16Ranges(const std::string& utf8,
                                             const std::vector<TextRange>& ranges);

/// The panel's rounded outline; also the window's mask when nothing composites it.
QPainterPath paletteShape(const PalettePanelView& view);
/// Where the search field sits inside the search row, between the magnifier and the key cap.
QRectF searchFieldRect(const PalettePanelView& view, const QFont& font);
/// The body between the two hairlines: the list or the message.
QRectF paletteBodyRect(const PalettePanelView& view);
/// The search field's font: 16 points of the panel.
QFont searchFieldFont(const QFont& base);

/// Everything but the body: backdrop, magnifier, "esc" key cap, hairlines and hints.
void paintPaletteChrome(QPainter& painter, const PalettePanelView& view,
                        const PalettePaintContext& context);
/// The border inside the panel's edge, over everything else.
void paintPaletteBorder(QPainter& painter, const PalettePanelView& view,
                        const PalettePaintContext& context);
/// The message that replaces the list, centred in `body`.
void paintPaletteMessage(QPainter& painter, const PaletteMessageView& message, const QRectF& body,
                         const PalettePaintContext& context);
/// One row in `frame` (list coordinates): background, icon, title with its matches, subtitle,
/// minimised marker and shortcut.
void paintPaletteRow(QPainter& painter, const PaletteRowView& row, const QRectF& frame,
                     const PalettePaintContext& context);

}  // namespace tolvane::qt
