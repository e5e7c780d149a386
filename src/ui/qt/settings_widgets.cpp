// Painting and input of the settings windows' building blocks.
#include "ui/qt/settings_widgets.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "ui/qt/qt_colors.h"

namespace tolvane::qt {

namespace {

constexpr Paint kPrimary{SemanticColor::primary, 1.0};
constexpr Paint kControlFill{SemanticColor::primary, 0.08};
constexpr Paint kTrackOff{SemanticColor::primary, 0.2};
constexpr Paint kCardFill{SemanticColor::primary, 0.04};
constexpr Paint kCardStroke{SemanticColor::primary, 0.08};
constexpr Paint kDivider{SemanticColor::primary, 0.1};
constexpr Paint kAccent{SemanticColor::accent, 1.0};
constexpr Paint kWhite{SemanticColor::white, 1.0};
constexpr Paint kWarn{SemanticColor::warn, 1.0};
constexpr Paint kSecondary{SemanticColor::secondary, 1.0};
/// A granted permission: the one colour the theme does not name.
const QColor kGranted(52, 199, 89);
constexpr double kBadgeFillAlpha = 0.16;
constexpr QSize kSwitchSize(38, 22);
constexpr double kCardRadius = 10;
constexpr int kCardPadding = 4;
constexpr int kDividerInset = 14;

QSize textPill(const QWidget& widget, const QString& text, int extra) {
  const double width = QFontMetricsF(widget.font()).horizontalAdvance(text);
  return {static_cast<int>(std::ceil(width)) + 2 * kPillPadding + extra, kPillHeight};
}

}  // namespace

QColor controlColour(Paint paint, const QWidget& widget) {
  return toQColor(paint, widget.palette());
}

void beginControlPainting(QPainter& painter, const QWidget& widget) {
  // Disabled controls are drawn faded.
  constexpr double kDisabledOpacity = 0.4;
  painter.setRenderHint(QPainter::Antialiasing);
  if (!widget.isEnabled()) painter.setOpacity(kDisabledOpacity);
}

QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

TextLabel::TextLabel(QWidget* parent, Paint paint) : QLabel(parent), paint_(paint) {
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TextLabel::setUtf8(const std::string& text) {
  const QString value = fromUtf8(text);
  if (value != this->text()) setText(value);
  setVisible(!value.isEmpty());
}

void TextLabel::setPaint(Paint paint) {
  if (paint == paint_) return;
  paint_ = paint;
  update();
}

void TextLabel::setStyle(double pointDelta, QFont::Weight weight) {
  QFont base = QApplication::font();
  base.setPointSizeF(std::max(1.0, base.pointSizeF() + pointDelta));
  base.setWeight(weight);
  if (base != font()) setFont(base);
}

void TextLabel::paintEvent(QPaintEvent*) {
  // QLabel would paint with the palette's text role; the paint is resolved here instead so
  // secondary and warning texts follow an appearance change without a new palette.
  QPainter painter(this);
  painter.setPen(controlColour(paint_, *this));
  painter.setFont(font());
  const int flags = static_cast<int>(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
  painter.drawText(contentsRect(), flags, text());
}

SwitchControl::SwitchControl(QWidget* parent) : QAbstractButton(parent) {
  setCheckable(true);
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  // clicked() comes only from the user; setChecked() from a description never reaches it.
  connect(this, &QAbstractButton::clicked, this, [this](bool on) {
    if (toggled_) toggled_(on);
  });
}

QSize SwitchControl::sizeHint() const {
  return kSwitchSize;
}

void SwitchControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  beginControlPainting(painter, *this);
  const QRectF track = QRectF(QPointF(0, 0), QSizeF(kSwitchSize)).adjusted(1, 1, -1, -1);
  const double radius = track.height() / 2;
  painter.setPen(Qt::NoPen);
  painter.setBrush(controlColour(isChecked() ? kAccent : kTrackOff, *this));
  painter.drawRoundedRect(track, radius, radius);
  const double knob = track.height() - 4;
  const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
  painter.setBrush(controlColour(kWhite, *this));
  painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
  if (hasFocus()) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(controlColour({SemanticColor::accent, 0.5}, *this), 2));
    painter.drawRoundedRect(track, radius, radius);
  }
}

PillButton::PillButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  connect(this, &QAbstractButton::clicked, this, [this] {
    if (action_) action_();
  });
}

void PillButton::setFilled(bool filled) {
  if (filled == filled_) return;
  filled_ = filled;
  update();
}

QSize PillButton::sizeHint() const {
  return textPill(*this, text(), 0);
}

void PillButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  beginControlPainting(painter, *this);
  const QRectF pill = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const double radius = pill.height() / 2;
  QColor fill = controlColour(filled_ ? kAccent : kControlFill, *this);
  if (isDown()) fill = fill.darker(115);
  painter.setPen(hasFocus() ? QPen(controlColour({SemanticColor::accent, 0.6}, *this), 1.5)
                            : Qt::NoPen);
  painter.setBrush(fill);
  painter.drawRoundedRect(pill, radius, radius);
  painter.setPen(controlColour(filled_ ? kWhite : kPrimary, *this));
  painter.drawText(rect(), Qt::AlignCenter, text());
}

StatusBadge::StatusBadge(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusBadge::setBadge(SettingsBadge::Kind kind, const std::string& text) {
  kind_ = kind;
  text_ = fromUtf8(text);
  updateGeometry();
  update();
}

QSize StatusBadge::sizeHint() const {
  QFont small = font();
  small.setWeight(QFont::DemiBold);
  const double width = QFontMetricsF(small).horizontalAdvance(text_);
  return {static_cast<int>(std::ceil(width)) + 20, 22};
}

void StatusBadge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  beginControlPainting(painter, *this);
  QColor tint = kind_ == SettingsBadge::Kind::granted      ? kGranted
                : kind_ == SettingsBadge::Kind::notGranted ? controlColour(kWarn, *this)
                                                           : controlColour(kSecondary, *this);
  QColor fill = tint;
  fill.setAlphaF(static_cast<float>(tint.alphaF() * kBadgeFillAlpha));
  const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
  QFont small = font();
  small.setWeight(QFont::DemiBold);
  painter.setFont(small);
  painter.setPen(tint);
  painter.drawText(rect(), Qt::AlignCenter, text_);
}

HotkeyRecorderView keyChipsView(std::vector<std::string> chips) {
  HotkeyRecorderView view;
  view.chips = std::move(chips);
  view.horizontalInset = 0;
  view.fill = {SemanticColor::clear, 0};
  view.stroke = {SemanticColor::clear, 0};
  view.strokeWidth = 0;
  return view;
}

HotkeyRecorderWidget* makeKeyChips(QWidget* parent) {
  auto* chips = new HotkeyRecorderWidget(parent);
  chips->setCursor(Qt::ArrowCursor);
  return chips;
}

void paintIconChip(QPainter& painter, const QRectF& rect, const QIcon& icon,
                   const QString& fallback, const QColor& colour) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  const double radius = rect.width() * 0.26;
  painter.drawRoundedRect(rect, radius, radius);
  const QRectF inner = rect.adjusted(rect.width() * 0.2, rect.height() * 0.2, -rect.width() * 0.2,
                                     -rect.height() * 0.2);
  const QPixmap pixmap = icon.isNull() ? QPixmap() : icon.pixmap(inner.size().toSize());
  if (!pixmap.isNull()) {
    // Theme icons come in their own colours; only their shape is kept, in white.
    QPixmap white(pixmap.size());
    white.setDevicePixelRatio(pixmap.devicePixelRatio());
    white.fill(Qt::transparent);
    QPainter tint(&white);
    tint.drawPixmap(0, 0, pixmap);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(white.rect(), Qt::white);
    tint.end();
    painter.drawPixmap(inner.toAlignedRect(), white);
  } else if (!fallback.isEmpty()) {
    QFont font = painter.font();
    font.setWeight(QFont::Bold);
    font.setPixelSize(std::max(1, static_cast<int>(rect.height() * 0.5)));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rect, Qt::AlignCenter, fallback.left(1).toUpper());
  }
  painter.restore();
}

RowDivider::RowDivider(QWidget* parent) : QWidget(parent) {
  setFixedHeight(1);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RowDivider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(QRect(kDividerInset, 0, width() - 2 * kDividerInset, 1),
                   controlColour(kDivider, *this));
}

CardBox::CardBox(QWidget* parent) : QWidget(parent), content_(new QVBoxLayout(this)) {
  content_->setContentsMargins(0, kCardPadding, 0, kCardPadding);
  content_->setSpacing(0);
}

void CardBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(controlColour(kCardStroke, *this), 1));
  painter.setBrush(controlColour(kCardFill, *this));
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.drawRoundedRect(box, kCardRadius, kCardRadius);
}

void retireWidget(QWidget* widget) {
  widget->hide();
  widget->deleteLater();
}

void paintApplicationIcon(QPainter& painter, const QRect& rect, const QPalette& palette) {
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("preferences-system"));
  if (!icon.isNull()) {
    icon.paint(&painter, rect);
    return;
  }
  paintIconChip(painter, rect, QIcon(), QApplication::applicationDisplayName(),
                toQColor(kAccent, palette));
}

ApplicationIconWidget::ApplicationIconWidget(int side, QWidget* parent) : QWidget(parent) {
  setFixedSize(side, side);
}

void ApplicationIconWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintApplicationIcon(painter, rect(), palette());
}

}  // namespace tolvane::qt
