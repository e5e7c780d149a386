// One frame of an overlay canvas as the panels paint it.
#pragma once

#include <QPoint>
#include <functional>

#include "ui/qt/overlay_canvas.h"

class QPainter;

namespace tolvane::qt {

/// Clears `frame` to transparent and runs `paint` on it with the painter every panel uses:
/// antialiased, at the frame's scale, its origin moved to `at` (logical canvas coordinates, not
/// the frame's).
void paintOverlayFrame(const OverlayCanvas::Frame& frame, QPoint at,
                       const std::function<void(QPainter&)>& paint);

}  // namespace tolvane::qt
