// Painting of the switcher HUD from its description: the backdrop, the border and each slot.
// Nothing here decides what to show; every text, colour and frame comes from the view.
#pragma once

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include "ui/qt/app_icons.h"
#include "views/switcher_panel_view.h"

namespace tolvane::qt {

/// What painting needs besides the description: the appearance and where icons come from.
struct SwitcherPaintContext {
  const QPalette& palette;
  /// The desktop's interface font; sizes are set per element.
  QFont font;
  AppIcons& icons;
  /// True when a compositor blends the panel over the desktop.
  bool translucent = false;
};

/// The panel's rounded outline in widget coordinates; also the shape of the window's mask
/// when nothing composites it.
QPainterPath panelShape(const SwitcherPanelView& view);

/// The backdrop inside the panel's outline (the whole widget when it is opaque).
void paintBackdrop(QPainter& painter, const SwitcherPanelView& view,
                   const SwitcherPaintContext& context);

/// The border drawn inside the panel's edge, over everything else.
void paintBorder(QPainter& painter, const SwitcherPanelView& view,
                 const SwitcherPaintContext& context);

/// One slot: its background (the hover background while `hovered`) and its content.
void paintSlot(QPainter& painter, const SwitcherSlotView& slot, bool hovered,
               const SwitcherPaintContext& context);

/// The slot's frame as a Qt rectangle.
QRectF slotRect(const SwitcherSlotView& slot);

}  // namespace tolvane::qt
