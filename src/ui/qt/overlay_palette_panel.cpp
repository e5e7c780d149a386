// The palette's frames, its search text and its keys on the overlay.
#include "ui/qt/overlay_palette_panel.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QTimer>
#include <QtMath>
#include <algorithm>
#include <utility>

#include "model/key_codes.h"
#include "ui/qt/overlay_frame.h"
#include "ui/qt/palette_painting.h"

namespace tolvane::qt {

namespace {

constexpr std::uint16_t kBackspace = 51;

/// The text without its last character (UTF-8: a lead byte and its continuation bytes).
std::string withoutLastCharacter(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
    text.pop_back();
  }
  if (!text.empty()) text.pop_back();
  return text;
}

bool isPrintable(const std::string& text) {
  return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

}  // namespace

OverlayPalettePanel::OverlayPalettePanel(OverlayCanvas& canvas, AppIcons icons, KeyOffer offer,
                                         std::function<void()> shown)
    : canvas_(canvas),
      icons_(std::move(icons)),
      offer_(std::move(offer)),
      shown_(std::move(shown)) {}

OverlayPalettePanel::~OverlayPalettePanel() {
  if (visible_) hide();
}

std::optional<std::string> OverlayPalettePanel::edited(const std::string& text,
                                                       const OverlayCanvas::Key& key) {
  const auto flags = key.event.flags;
  if (key.event.keyCode == kBackspace) return withoutLastCharacter(text);
  // Control and Super combinations are shortcuts, never text.
  if (flags & (eventflags::kControl | eventflags::kCommand)) return std::nullopt;
  if (!isPrintable(key.text)) return std::nullopt;
  return text + key.text;
}

void OverlayPalettePanel::show(const PalettePanelView& view) {
  const bool newOpening = !visible_ || view.focusRequestID != view_.focusRequestID;
  view_ = view;
  if (newOpening) {
    text_ = view.query;
    scroll_ = 0;
  }
  scroll_ = scrollFor(view_);
  if (!visible_) {
    visible_ = true;
    announce_ = true;
    canvas_.setClickHandler([this](QPointF point) { clicked(point); });
    const bool held =
        canvas_.holdKeyboard({.pressed = [this](const OverlayCanvas::Key& key) { pressed(key); },
                              .lost = [this] { resign(); }});
    if (!held) {
      repaint();
      return resign();
    }
  }
  repaint();
}

void OverlayPalettePanel::hide() {
  if (!visible_) return;
  visible_ = false;
  canvas_.setClickHandler({});
  canvas_.releaseKeyboard();
  canvas_.clear();
}

void OverlayPalettePanel::repaint() {
  const QRect area = canvas_.area().value_or(QRect());
  const QSize size(qCeil(view_.size.width), qCeil(view_.size.height));
  origin_ = view_.frame ? QPoint(qRound(view_.frame->x), qRound(view_.frame->y)) - area.topLeft()
                        : QPoint((area.width() - size.width()) / 2, area.height() / 5);
  // The whole canvas takes clicks: one outside the panel is the user leaving it.
  const QRect whole(QPoint(0, 0), area.size());
  canvas_.paint([this](const OverlayCanvas::Frame& frame) { paintFrame(frame); }, whole, whole);
}

QRectF OverlayPalettePanel::listRect() const {
  return paletteBodyRect(view_);
}

double OverlayPalettePanel::scrollFor(const PalettePanelView& view) const {
  const double pitch = view.rowHeight + view.rowSpacing;
  const double height = paletteBodyRect(view).height();
  double scroll = scroll_;
  for (const auto& row : view.rows) {
    if (!view.selectedID || row.windowID != *view.selectedID) continue;
    const double top = view.listInset + row.index * pitch;
    if (top < scroll) scroll = top;
    if (top + view.rowHeight > scroll + height) scroll = top + view.rowHeight - height;
  }
  return std::max(0.0, scroll);
}

void OverlayPalettePanel::paintFrame(const OverlayCanvas::Frame& frame) {
  paintOverlayFrame(frame, origin_, [this](QPainter& painter) { paintContents(painter); });
  if (std::exchange(announce_, false) && shown_) shown_();
}

void OverlayPalettePanel::paintContents(QPainter& painter) {
  const QPalette colors = QGuiApplication::palette();
  const QFont font = QGuiApplication::font();
  const PalettePaintContext context{colors, font, icons_, true};
  paintPaletteChrome(painter, view_, context);
  const QRectF body = listRect();
  if (view_.message) {
    paintPaletteMessage(painter, *view_.message, body, context);
  } else {
    painter.save();
    painter.setClipRect(body);
    painter.translate(body.topLeft() - QPointF(0, scroll_));
    const double pitch = view_.rowHeight + view_.rowSpacing;
    for (const auto& row : view_.rows) {
      const QRectF rowFrame(view_.listInset, view_.listInset + row.index * pitch,
                            body.width() - 2 * view_.listInset, view_.rowHeight);
      if (rowFrame.bottom() < scroll_ || rowFrame.top() > scroll_ + body.height()) continue;
      paintPaletteRow(painter, row, rowFrame, context);
    }
    painter.restore();
  }
  const QFont fieldFont = searchFieldFont(font);
  const QRectF field = searchFieldRect(view_, font);
  painter.setFont(fieldFont);
  const QString text = paintableText(text_);
  const QFontMetricsF metrics(fieldFont);
  if (text.isEmpty()) {
    painter.setPen(colors.color(QPalette::PlaceholderText));
    painter.drawText(field, Qt::AlignVCenter | Qt::AlignLeft,
                     QString::fromStdString(view_.placeholder));
  } else {
    painter.setPen(colors.color(QPalette::Text));
    painter.drawText(field, Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(text, Qt::ElideLeft, field.width() - 2));
  }
  const double caret = field.left() + std::min(metrics.horizontalAdvance(text), field.width() - 2);
  painter.setPen(QPen(colors.color(QPalette::Text), 1));
  painter.drawLine(QPointF(caret + 1, field.center().y() - metrics.height() / 2),
                   QPointF(caret + 1, field.center().y() + metrics.height() / 2));
  paintPaletteBorder(painter, view_, context);
}

void OverlayPalettePanel::pressed(const OverlayCanvas::Key& key) {
  if (!visible_) return;
  if (key.event.type != KeyEventType::keyDown) return;
  if (offer_ && offer_(key.event)) return;
  const auto text = edited(text_, key);
  if (!text || *text == text_) return;
  text_ = *text;
  if (query_) query_(text_);
  repaint();
}

void OverlayPalettePanel::clicked(QPointF point) {
  if (!visible_) return;
  const QPointF inPanel = point - QPointF(origin_);
  if (!paletteShape(view_).contains(inPanel)) return resign();
  const QRectF body = listRect();
  if (view_.message || !body.contains(inPanel)) return;
  const double y = inPanel.y() - body.top() + scroll_ - view_.listInset;
  const double pitch = view_.rowHeight + view_.rowSpacing;
  if (y < 0 || !(pitch > 0)) return;
  const int index = static_cast<int>(y / pitch);
  if (y - index * pitch > view_.rowHeight) return;
  for (const auto& row : view_.rows) {
    if (row.index != index) continue;
    if (auto handler = rowClick_) handler(row.index, 1);
    return;
  }
}

void OverlayPalettePanel::resign() {
  // After the event at hand: the core closes the panel from its handler, which must not run
  // inside a show() or a dispatch of the canvas.
  QTimer::singleShot(0, &deferred_, [this] {
    if (!visible_) return;
    if (auto handler = resign_) handler();
  });
}

}  // namespace tolvane::qt
