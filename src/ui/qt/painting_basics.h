// What every painter of a description needs the same way: fonts sized in the panel's own units,
// text from the core's strings, rounded outlines, and a frameless panel placed at its frame.
#pragma once

#include <QFont>
#include <QPainterPath>
#include <QRectF>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <QtMath>
#include <algorithm>
#include <optional>
#include <string>

#include "base/geometry.h"

namespace tolvane::qt {

/// `font` at `pixels`: sizes in a description are in points of the panel's own coordinates,
/// the unit of its frames, so they map to pixels rather than to typographic points.
inline QFont sized(QFont font, double pixels, QFont::Weight weight = QFont::Normal) {
  font.setPixelSize(std::max(1, qRound(pixels)));
  font.setWeight(weight);
  return font;
}

/// A core string (UTF-8) as Qt text.
inline QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

inline QPainterPath roundedRect(const QRectF& rect, double radius) {
  QPainterPath path;
  path.addRoundedRect(rect, radius, radius);
  return path;
}

/// Gives a panel the description's size at its frame (nothing: where it was) and, when nothing
/// composites it, cuts the window to `shape` so that its corners stay round.
inline void placePanel(QWidget& panel, const Size& size, const std::optional<Rect>& frame,
                       bool translucent, const QPainterPath& shape) {
  const QSize pixels(qCeil(size.width), qCeil(size.height));
  if (frame) {
    panel.setGeometry(QRect(QPoint(qRound(frame->x), qRound(frame->y)), pixels));
  } else {
    panel.resize(pixels);
  }
  if (!translucent) panel.setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

}  // namespace tolvane::qt
