// Painting the HUD's description into an overlay frame, and clicks on its rows.
#include "ui/qt/overlay_switcher_panel.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QtMath>
#include <utility>

#include "ui/qt/overlay_frame.h"
#include "ui/qt/switcher_painting.h"

namespace tolvane::qt {

OverlaySwitcherPanel::OverlaySwitcherPanel(OverlayCanvas& canvas, AppIcons icons,
                                           std::function<void()> shown)
    : canvas_(canvas), icons_(std::move(icons)), shown_(std::move(shown)) {
  canvas_.setClickHandler([this](QPointF point) { clicked(point); });
}

OverlaySwitcherPanel::~OverlaySwitcherPanel() {
  canvas_.setClickHandler({});
}

QPoint OverlaySwitcherPanel::origin(const QRect& area) const {
  const QSize size(qCeil(view_.size.width), qCeil(view_.size.height));
  if (view_.frame) {
    return QPoint(qRound(view_.frame->x), qRound(view_.frame->y)) - area.topLeft();
  }
  return QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
}

void OverlaySwitcherPanel::show(const SwitcherPanelView& view) {
  view_ = view;
  announce_ = announce_ || !visible_;
  visible_ = true;
  const QRect area = canvas_.area().value_or(QRect());
  origin_ = origin(area);
  const QRect panel(origin_, QSize(qCeil(view_.size.width), qCeil(view_.size.height)));
  canvas_.paint([this, at = origin_](const OverlayCanvas::Frame& frame) { paintFrame(frame, at); },
                panel, panel);
}

void OverlaySwitcherPanel::paintFrame(const OverlayCanvas::Frame& frame, QPoint at) {
  paintOverlayFrame(frame, at, [this](QPainter& painter) {
    const QPalette colors = QGuiApplication::palette();
    const SwitcherPaintContext context{colors, QGuiApplication::font(), icons_, true};
    paintBackdrop(painter, view_, context);
    for (const auto& slot : view_.slots) paintSlot(painter, slot, false, context);
    paintBorder(painter, view_, context);
  });
  // Told once the first frame of an appearance is painted, not when it was asked for: the
  // surface may take its first frame only after the compositor configured it.
  if (std::exchange(announce_, false) && shown_) shown_();
}

void OverlaySwitcherPanel::hide() {
  if (!visible_) return;
  visible_ = false;
  canvas_.clear();
}

void OverlaySwitcherPanel::clicked(QPointF point) {
  if (!visible_) return;
  const QPointF inPanel = point - QPointF(origin_);
  for (const auto& slot : view_.slots) {
    if (!slotRect(slot).contains(inPanel) || !slot.clickable) continue;
    // A copy: the handler may hide the panel, which replaces nothing of it but may end the
    // session that owns `view_`.
    if (auto handler = click_) handler(slot.index);
    return;
  }
}

}  // namespace tolvane::qt
