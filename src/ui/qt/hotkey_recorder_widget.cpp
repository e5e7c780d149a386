// Painting and clicks of the hot-key recorder.
#include "ui/qt/hotkey_recorder_widget.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "ui/qt/painting_basics.h"
#include "ui/qt/qt_colors.h"

namespace tolvane::qt {

namespace {

/// Space between two chips, and between the recorder and the reset button.
constexpr double kChipSpacing = 4;
constexpr double kResetSpacing = 6;
/// The tertiary style: the label colour at the strength of a tertiary label.
constexpr Paint kResetPaint{SemanticColor::primary, 0.3};

QFont chipFont(const QFont& base) {
  return sized(base, KeyChipStyle::kFontPoints);
}

QFont promptFont(const QFont& base) {
  return sized(base, HotkeyRecorderView::kPromptFontPoints, QFont::Medium);
}

void strokeRoundedRect(QPainter& painter, const QRectF& rect, double radius, const QColor& fill,
                       const QColor& stroke, double strokeWidth) {
  // The stroke is centred on the outline; inset by half of it so it stays inside the rect.
  const QRectF inner =
      rect.adjusted(strokeWidth / 2, strokeWidth / 2, -strokeWidth / 2, -strokeWidth / 2);
  painter.setPen(QPen(stroke, strokeWidth));
  painter.setBrush(fill);
  painter.drawRoundedRect(inner, radius, radius);
}

void paintResetSymbol(QPainter& painter, const QRectF& rect, const QPalette& palette) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(toQColor(kResetPaint, palette));
  painter.drawEllipse(rect);
  // A backward U-turn: an open arc with an arrow head at its left end, cut out of the disc.
  const QRectF arc = rect.adjusted(rect.width() * 0.3, rect.height() * 0.28, -rect.width() * 0.3,
                                   -rect.height() * 0.3);
  QPen pen(palette.color(QPalette::Window), std::max(1.0, rect.width() / 9));
  pen.setCapStyle(Qt::RoundCap);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  QPainterPath path;
  path.moveTo(arc.left(), arc.top());
  path.lineTo(arc.center().x(), arc.top());
  path.arcTo(QRectF(arc.left(), arc.top(), arc.width(), arc.height()), 90, -180);
  path.lineTo(arc.left() + arc.width() * 0.2, arc.bottom());
  painter.drawPath(path);
  const double head = arc.width() * 0.3;
  painter.drawLine(QPointF(arc.left(), arc.top()), QPointF(arc.left() + head, arc.top() - head));
  painter.drawLine(QPointF(arc.left(), arc.top()), QPointF(arc.left() + head, arc.top() + head));
}

}  // namespace

RecorderGeometry recorderGeometry(const HotkeyRecorderView& view, const QFont& font) {
  RecorderGeometry geometry;
  const double height = HotkeyRecorderView::kHeight;
  double x = view.horizontalInset;
  if (view.recording) {
    x += QFontMetricsF(promptFont(font)).horizontalAdvance(qs(view.prompt));
  } else {
    const QFontMetricsF metrics(chipFont(font));
    const double top = (height - KeyChipStyle::kHeight) / 2;
    for (std::size_t i = 0; i < view.chips.size(); ++i) {
      if (i > 0) x += kChipSpacing;
      const double width =
          std::max(KeyChipStyle::kMinWidth, metrics.horizontalAdvance(qs(view.chips[i])) +
                                                2 * KeyChipStyle::kHorizontalInset);
      geometry.chips.emplace_back(x, top, width, KeyChipStyle::kHeight);
      x += width;
    }
  }
  geometry.recorder = QRectF(0, 0, std::ceil(x + view.horizontalInset), height);
  double right = geometry.recorder.right();
  if (view.showsReset) {
    const double side = HotkeyRecorderView::kResetSymbolPoints;
    geometry.reset = QRectF(right + kResetSpacing, (height - side) / 2, side, side);
    right = geometry.reset.right();
  }
  geometry.size = QSizeF(std::ceil(right), height);
  return geometry;
}

HotkeyRecorderWidget::HotkeyRecorderWidget(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setCursor(Qt::PointingHandCursor);
}

void HotkeyRecorderWidget::setView(const HotkeyRecorderView& view) {
  if (view == view_) return;
  view_ = view;
  updateGeometry();
  resize(sizeHint());
  update();
}

QSize HotkeyRecorderWidget::sizeHint() const {
  return recorderGeometry(view_, font()).size.toSize();
}

void HotkeyRecorderWidget::paintEvent(QPaintEvent*) {
  const RecorderGeometry geometry = recorderGeometry(view_, font());
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colours = palette();
  strokeRoundedRect(painter, geometry.recorder, HotkeyRecorderView::kCornerRadius,
                    toQColor(view_.fill, colours), toQColor(view_.stroke, colours),
                    view_.strokeWidth);
  if (view_.recording) {
    painter.setFont(promptFont(font()));
    painter.setPen(toQColor(view_.promptColor, colours));
    painter.drawText(geometry.recorder.adjusted(view_.horizontalInset, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignVCenter, qs(view_.prompt));
  }
  painter.setFont(chipFont(font()));
  for (std::size_t i = 0; i < geometry.chips.size(); ++i) {
    strokeRoundedRect(painter, geometry.chips[i], KeyChipStyle::kCornerRadius,
                      toQColor(KeyChipStyle::kFill, colours),
                      toQColor(KeyChipStyle::kStroke, colours), KeyChipStyle::kStrokeWidth);
    painter.setPen(toQColor({SemanticColor::primary, 1.0}, colours));
    painter.drawText(geometry.chips[i], Qt::AlignCenter, qs(view_.chips[i]));
  }
  if (view_.showsReset) paintResetSymbol(painter, geometry.reset, colours);
}

void HotkeyRecorderWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const RecorderGeometry geometry = recorderGeometry(view_, font());
  const QPointF at = event->position();
  if (geometry.recorder.contains(at)) {
    if (click_) click_();
  } else if (view_.showsReset && geometry.reset.contains(at)) {
    if (reset_) reset_();
  }
}

void HotkeyRecorderWidget::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (hidden_) hidden_();
}

}  // namespace tolvane::qt
