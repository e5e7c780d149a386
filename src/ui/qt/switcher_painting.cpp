// The HUD's elements, each painted by its own function from the slot's description.
#include "ui/qt/switcher_painting.h"

#include <QFontMetricsF>
#include <QIcon>
#include <QtMath>
#include <algorithm>
#include <string>
#include <utility>

#include "ui/qt/painting_basics.h"
#include "ui/qt/qt_colors.h"

namespace tolvane::qt {

namespace {

// Row geometry the description leaves to the painter: padding, gaps and the fixed-size
// elements beside the title.
constexpr double kRowPadding = 10;
constexpr double kItemSpacing = 8;
constexpr double kTitleGroupSpacing = 5;
constexpr double kBadgeSide = 14;
constexpr double kBadgeRadius = 4;
constexpr double kBadgeFontSize = 10;
constexpr double kAppNameFontSize = 11;
constexpr double kMarkerSide = 9;
constexpr double kOverflowFontSize = 12;
// The application name keeps its width, but never more than this share of the row, so a long
// name cannot push the title out altogether.
constexpr double kAppNameMaxShare = 0.4;
// A placeholder icon's corners, as a share of its side.
constexpr double kPlaceholderRadiusShare = 0.25;
constexpr int kTextFlags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip;

/// Where a window row's elements go, left to right.
struct RowGeometry {
  QRectF icon;
  QRectF title;  // the title, its suffix and the minimized marker
  QRectF appName;
  QRectF badge;
};

RowGeometry rowGeometry(const SwitcherSlotView& slot, const QFont& font) {
  const QRectF frame = slotRect(slot);
  const double centreY = frame.center().y();
  double left = frame.left() + kRowPadding;
  double right = frame.right() - kRowPadding;
  RowGeometry row;
  row.icon = QRectF(left, centreY - slot.iconSize / 2, slot.iconSize, slot.iconSize);
  left += slot.iconSize + kItemSpacing;
  if (slot.badge != SwitcherSlotView::Badge::none) {
    row.badge = QRectF(right - kBadgeSide, centreY - kBadgeSide / 2, kBadgeSide, kBadgeSide);
    right -= kBadgeSide + kItemSpacing;
  }
  if (slot.appName) {
    const QFontMetricsF metrics(sized(font, kAppNameFontSize));
    const double width = std::min(metrics.horizontalAdvance(qs(*slot.appName)),
                                  std::max(0.0, right - left) * kAppNameMaxShare);
    row.appName = QRectF(right - width, frame.top(), width, frame.height());
    right -= width + kItemSpacing;
  }
  row.title = QRectF(left, frame.top(), std::max(0.0, right - left), frame.height());
  return row;
}

/// The title and its suffix shortened to fit `width` together: the title gives way in the
/// middle first, keeping both its ends, while the suffix keeps at least half the width so the
/// application name that tells repeated titles apart stays readable.
std::pair<QString, QString> fitTitle(const QFontMetricsF& metrics, const QString& title,
                                     const QString& suffix, double width) {
  const double suffixWidth = metrics.horizontalAdvance(suffix);
  if (metrics.horizontalAdvance(title) + suffixWidth <= width) return {title, suffix};
  const double suffixBudget = std::min(suffixWidth, width / 2);
  const QString shortTitle = metrics.elidedText(title, Qt::ElideMiddle, width - suffixBudget);
  const double rest = width - metrics.horizontalAdvance(shortTitle);
  return {shortTitle, suffix.isEmpty() ? suffix : metrics.elidedText(suffix, Qt::ElideRight, rest)};
}

void paintIcon(QPainter& painter, const SwitcherSlotView& slot, const QRectF& rect,
               const SwitcherPaintContext& context) {
  const int side = qCeil(rect.width() * painter.device()->devicePixelRatioF());
  const QIcon icon = context.icons.icon(slot.iconWindowID, slot.iconBundleID, side);
  if (!icon.isNull()) {
    icon.paint(&painter, rect.toAlignedRect());
    return;
  }
  const double radius = rect.width() * kPlaceholderRadiusShare;
  painter.fillPath(roundedRect(rect, radius),
                   toQColor({SemanticColor::primary, 0.08}, context.palette));
}

/// Two short arrows pointing at each other along the diagonal: the window is folded away.
void paintMinimizedMarker(QPainter& painter, const QRectF& box, const QColor& color) {
  QPen pen(color, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  const double third = box.width() / 3;
  const QPointF upperTip = box.center() - QPointF(1, 1);
  const QPointF lowerTip = box.center() + QPointF(1, 1);
  painter.drawLine(box.topLeft(), upperTip);
  painter.drawLine(upperTip, upperTip - QPointF(third, 0));
  painter.drawLine(upperTip, upperTip - QPointF(0, third));
  painter.drawLine(box.bottomRight(), lowerTip);
  painter.drawLine(lowerTip, lowerTip + QPointF(third, 0));
  painter.drawLine(lowerTip, lowerTip + QPointF(0, third));
}

void paintTitleGroup(QPainter& painter, const SwitcherSlotView& slot, const QRectF& area,
                     const SwitcherPaintContext& context) {
  const QFont font = sized(context.font, slot.titleFontSize);
  const QFontMetricsF metrics(font);
  const double markerSpace = slot.minimizedMarker ? kTitleGroupSpacing + kMarkerSide : 0;
  const double textWidth = std::max(0.0, area.width() - markerSpace);
  const auto [title, suffix] =
      fitTitle(metrics, qs(slot.title), qs(slot.titleSuffix.value_or("")), textWidth);

  painter.setFont(font);
  double x = area.left();
  painter.setPen(toQColor(slot.titlePaint, context.palette));
  painter.drawText(QRectF(x, area.top(), textWidth, area.height()), kTextFlags, title);
  x += metrics.horizontalAdvance(title);
  if (!suffix.isEmpty()) {
    painter.setPen(toQColor(slot.suffixPaint, context.palette));
    painter.drawText(QRectF(x, area.top(), textWidth, area.height()), kTextFlags, suffix);
    x += metrics.horizontalAdvance(suffix);
  }
  if (slot.minimizedMarker) {
    const QRectF box(x + kTitleGroupSpacing, area.center().y() - kMarkerSide / 2, kMarkerSide,
                     kMarkerSide);
    paintMinimizedMarker(painter, box, toQColor(slot.markerPaint, context.palette));
  }
}

void paintAppName(QPainter& painter, const SwitcherSlotView& slot, const QRectF& rect,
                  const SwitcherPaintContext& context) {
  const QFont font = sized(context.font, kAppNameFontSize);
  const QString text =
      QFontMetricsF(font).elidedText(qs(*slot.appName), Qt::ElideRight, rect.width());
  painter.setFont(font);
  painter.setPen(toQColor(slot.appNamePaint, context.palette));
  painter.drawText(rect, kTextFlags | Qt::AlignRight, text);
}

void paintBadge(QPainter& painter, const SwitcherSlotView& slot, const QRectF& rect,
                const SwitcherPaintContext& context) {
  // A placeholder only holds the space, so titles in the first column stay aligned.
  if (slot.badge != SwitcherSlotView::Badge::number) return;
  painter.fillPath(roundedRect(rect, kBadgeRadius), toQColor(slot.badgeFill, context.palette));
  painter.setFont(sized(context.font, kBadgeFontSize, QFont::Medium));
  painter.setPen(toQColor(slot.badgeTextPaint, context.palette));
  painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip,
                   QString::number(slot.badgeNumber));
}

void paintWindowRow(QPainter& painter, const SwitcherSlotView& slot,
                    const SwitcherPaintContext& context) {
  const RowGeometry row = rowGeometry(slot, context.font);
  paintIcon(painter, slot, row.icon, context);
  paintTitleGroup(painter, slot, row.title, context);
  if (slot.appName) paintAppName(painter, slot, row.appName, context);
  paintBadge(painter, slot, row.badge, context);
}

void paintOverflowTile(QPainter& painter, const SwitcherSlotView& slot,
                       const SwitcherPaintContext& context) {
  const QFont font = sized(context.font, kOverflowFontSize);
  const QRectF rect = slotRect(slot).adjusted(kRowPadding, 0, -kRowPadding, 0);
  painter.setFont(font);
  painter.setPen(toQColor({SemanticColor::secondary, 1}, context.palette));
  painter.drawText(
      rect, Qt::AlignCenter | Qt::TextSingleLine,
      QFontMetricsF(font).elidedText(qs(slot.overflowText), Qt::ElideRight, rect.width()));
}

}  // namespace

QRectF slotRect(const SwitcherSlotView& slot) {
  return {slot.frame.x, slot.frame.y, slot.frame.width, slot.frame.height};
}

QPainterPath panelShape(const SwitcherPanelView& view) {
  return roundedRect(QRectF(0, 0, view.size.width, view.size.height), view.cornerRadius);
}

void paintBackdrop(QPainter& painter, const SwitcherPanelView& view,
                   const SwitcherPaintContext& context) {
  const QColor backdrop = panelBackdrop(context.palette, context.translucent);
  if (!context.translucent) {
    // The window mask cuts the corners; painting them too leaves no unpainted pixel behind.
    painter.fillRect(QRectF(0, 0, view.size.width, view.size.height), backdrop);
    return;
  }
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(QRectF(0, 0, view.size.width, view.size.height), Qt::transparent);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.fillPath(panelShape(view), backdrop);
}

void paintBorder(QPainter& painter, const SwitcherPanelView& view,
                 const SwitcherPaintContext& context) {
  if (!(view.borderWidth > 0)) return;
  const double inset = view.borderWidth / 2;
  const QRectF rect =
      QRectF(0, 0, view.size.width, view.size.height).adjusted(inset, inset, -inset, -inset);
  const double radius = std::max(0.0, view.cornerRadius - inset);
  painter.setPen(QPen(toQColor(view.border, context.palette), view.borderWidth));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(roundedRect(rect, radius));
}

void paintSlot(QPainter& painter, const SwitcherSlotView& slot, bool hovered,
               const SwitcherPaintContext& context) {
  const Paint& fill = hovered ? slot.hoverBackground : slot.background;
  painter.fillPath(roundedRect(slotRect(slot), slot.cornerRadius), toQColor(fill, context.palette));
  if (slot.kind == SwitcherSlotView::Kind::overflow) {
    paintOverflowTile(painter, slot, context);
  } else {
    paintWindowRow(painter, slot, context);
  }
}

}  // namespace tolvane::qt
