// Painting and input of the pill drop-down and the segmented capsule.
#include "ui/qt/choice_controls.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "ui/qt/qt_colors.h"
#include "ui/qt/settings_widgets.h"

namespace tolvane::qt {

namespace {

constexpr Paint kPrimary{SemanticColor::primary, 1.0};
constexpr Paint kSecondary{SemanticColor::secondary, 1.0};
constexpr Paint kControlFill{SemanticColor::primary, 0.08};
constexpr Paint kAccent{SemanticColor::accent, 1.0};
constexpr Paint kWhite{SemanticColor::white, 1.0};
constexpr Paint kFocusRing{SemanticColor::accent, 0.6};
constexpr int kChevronSpace = 18;

QPen focusPen(const QWidget& widget) {
  return widget.hasFocus() ? QPen(controlColour(kFocusRing, widget), 1.5) : QPen(Qt::NoPen);
}

}  // namespace

PillDropdown::PillDropdown(QWidget* parent) : QComboBox(parent) {
  setCursor(Qt::PointingHandCursor);
  setSizeAdjustPolicy(QComboBox::AdjustToContents);
  // activated() is the user's choice only; setCurrentIndex() never emits it.
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (selected_ && index >= 0) selected_(itemData(index).toString().toStdString());
  });
}

void PillDropdown::setChoice(const SettingsDropdown& dropdown) {
  selected_ = dropdown.onSelect;
  const QSignalBlocker quiet(this);
  bool same = count() == static_cast<int>(dropdown.options.size());
  for (int i = 0; same && i < count(); ++i) {
    const auto& option = dropdown.options[static_cast<std::size_t>(i)];
    same =
        itemData(i).toString() == fromUtf8(option.value) && itemText(i) == fromUtf8(option.title);
  }
  if (!same) {
    clear();
    for (const auto& option : dropdown.options) {
      addItem(fromUtf8(option.title), fromUtf8(option.value));
    }
  }
  const int index = findData(fromUtf8(dropdown.selection));
  if (index != currentIndex()) setCurrentIndex(index);
  updateGeometry();
}

QSize PillDropdown::sizeHint() const {
  double widest = 0;
  const QFontMetricsF metrics(font());
  for (int i = 0; i < count(); ++i)
    widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
  return {static_cast<int>(std::ceil(widest)) + 2 * kPillPadding + kChevronSpace, kPillHeight};
}

void PillDropdown::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  beginControlPainting(painter, *this);
  const QRectF pill = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const double radius = pill.height() / 2;
  painter.setPen(focusPen(*this));
  painter.setBrush(controlColour(kControlFill, *this));
  painter.drawRoundedRect(pill, radius, radius);
  painter.setPen(controlColour(kPrimary, *this));
  const QRectF label = pill.adjusted(kPillPadding, 0, -kPillPadding - kChevronSpace, 0);
  painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(font()).elidedText(currentText(), Qt::ElideRight, label.width()));
  // A chevron pointing down.
  const QPointF tip(pill.right() - kPillPadding - 4, pill.center().y() + 2.5);
  QPen pen(controlColour(kSecondary, *this), 1.6);
  pen.setCapStyle(Qt::RoundCap);
  painter.setPen(pen);
  painter.drawPolyline(QPolygonF({tip + QPointF(-4, -4.5), tip, tip + QPointF(4, -4.5)}));
}

SegmentedCapsule::SegmentedCapsule(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SegmentedCapsule::setChoice(const SettingsSegmented& segmented) {
  selectedHandler_ = segmented.onSelect;
  symbols_.clear();
  tooltips_.clear();
  for (const auto& symbol : segmented.symbols) symbols_.push_back(fromUtf8(symbol));
  for (const auto& tooltip : segmented.tooltips) tooltips_.push_back(fromUtf8(tooltip));
  selected_ = segmented.selectedIndex;
  setEnabled(segmented.enabled);
  const QSizeF size(std::clamp(segmented.width, 20.0, 600.0),
                    std::clamp(segmented.height, 12.0, 80.0));
  if (size != size_) {
    size_ = size;
    updateGeometry();
  }
  update();
}

QSize SegmentedCapsule::sizeHint() const {
  return size_.toSize();
}

QRectF SegmentedCapsule::segmentRect(int index) const {
  const auto count = static_cast<double>(std::max<std::size_t>(symbols_.size(), 1));
  const double width = size_.width() / count;
  return {index * width, 0, width, size_.height()};
}

int SegmentedCapsule::segmentAt(const QPointF& point) const {
  for (int i = 0; i < static_cast<int>(symbols_.size()); ++i) {
    if (segmentRect(i).contains(point)) return i;
  }
  return -1;
}

void SegmentedCapsule::choose(int index) {
  if (index < 0 || index >= static_cast<int>(symbols_.size()) || index == selected_) return;
  selected_ = index;
  update();
  if (selectedHandler_) selectedHandler_(index);
}

void SegmentedCapsule::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  beginControlPainting(painter, *this);
  const QRectF capsule = QRectF(QPointF(0, 0), size_).adjusted(0.5, 0.5, -0.5, -0.5);
  const double radius = capsule.height() / 2;
  painter.setPen(focusPen(*this));
  painter.setBrush(controlColour(kControlFill, *this));
  painter.drawRoundedRect(capsule, radius, radius);
  for (int i = 0; i < static_cast<int>(symbols_.size()); ++i) {
    const QRectF segment = segmentRect(i).adjusted(2, 2, -2, -2);
    const bool chosen = i == selected_;
    if (chosen) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(controlColour(kAccent, *this));
      painter.drawRoundedRect(segment, segment.height() / 2, segment.height() / 2);
    }
    const QString& symbol = symbols_[static_cast<std::size_t>(i)];
    const QIcon icon = QIcon::fromTheme(symbol);
    if (!icon.isNull()) {
      const double side = segment.height() - 6;
      const QRectF at(segment.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
      icon.paint(&painter, at.toAlignedRect());
    } else {
      painter.setPen(controlColour(chosen ? kWhite : kPrimary, *this));
      painter.drawText(segment, Qt::AlignCenter, symbol);
    }
  }
}

void SegmentedCapsule::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) choose(segmentAt(event->position()));
}

void SegmentedCapsule::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Left) {
    choose(selected_ - 1);
  } else if (event->key() == Qt::Key_Right) {
    choose(selected_ + 1);
  } else {
    QWidget::keyPressEvent(event);
  }
}

bool SegmentedCapsule::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  auto* help = static_cast<QHelpEvent*>(event);
  const int index = segmentAt(help->pos());
  if (index >= 0 && index < static_cast<int>(tooltips_.size())) {
    QToolTip::showText(help->globalPos(), tooltips_[static_cast<std::size_t>(index)], this,
                       segmentRect(index).toAlignedRect());
  } else {
    QToolTip::hideText();
    event->ignore();
  }
  return true;
}

}  // namespace tolvane::qt
