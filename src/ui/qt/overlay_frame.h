// One frame of an overlay canvas as the panels paint it.
#pragma once

#include <QPoint>
#include <functional>

#include "ui/qt/overlay_canvas.h"

class QImage;
class QPainter;

namespace tolvane::qt {

/// Clears `frame` to transparent and runs `paint` on it with the painter every panel uses:
/// antialiased, at the frame's scale, its origin moved to `at` (logical canvas coordinates, not
/// the frame's).
void paintOverlayFrame(const OverlayCanvas::Frame& frame, QPoint at,
                       const std::function<void(QPainter&)>& paint);

/// Sets `painter`, open on an image of a frame whose top-left pixel lies at `frameOrigin`, up as
/// paintOverlayFrame does: what several painters draw in turn equals one pass.
void setUpOverlayPainter(QPainter& painter, QPoint at, QPoint frameOrigin);

/// A transparent-to-be image of `width`×`height` device pixels in memory of its own, handed back
/// to the system as soon as the image goes (a heap block of this size could stay resident).
/// Its pixels are not cleared: fresh pages fault in as they are first written. Null when the
/// memory cannot be had.
QImage anonymousImage(int width, int height, int scale);

}  // namespace tolvane::qt
