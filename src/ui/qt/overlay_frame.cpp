// The canvas's pixels wrapped in an image, so that the panels' Qt painting draws straight into
// the shared buffer the compositor reads.
#include "ui/qt/overlay_frame.h"

#include <QImage>
#include <QPainter>

namespace tolvane::qt {

void paintOverlayFrame(const OverlayCanvas::Frame& frame, QPoint at,
                       const std::function<void(QPainter&)>& paint) {
  QImage image(reinterpret_cast<uchar*>(frame.pixels), frame.width, frame.height, frame.strideBytes,
               QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(frame.scale);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                         QPainter::SmoothPixmapTransform);
  painter.translate(at - QPoint(frame.x, frame.y));
  paint(painter);
}

}  // namespace tolvane::qt
