// The canvas's pixels wrapped in an image, so that the panels' Qt painting draws straight into
// the shared buffer the compositor reads.
#include "ui/qt/overlay_frame.h"

#include <sys/mman.h>

#include <QImage>
#include <QPainter>
#include <cstddef>

namespace tolvane::qt {

void setUpOverlayPainter(QPainter& painter, QPoint at, QPoint frameOrigin) {
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                         QPainter::SmoothPixmapTransform);
  painter.translate(at - frameOrigin);
}

void paintOverlayFrame(const OverlayCanvas::Frame& frame, QPoint at,
                       const std::function<void(QPainter&)>& paint) {
  QImage image(reinterpret_cast<uchar*>(frame.pixels), frame.width, frame.height, frame.strideBytes,
               QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(frame.scale);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  setUpOverlayPainter(painter, at, QPoint(frame.x, frame.y));
  paint(painter);
}

QImage anonymousImage(int width, int height, int scale) {
  if (width <= 0 || height <= 0) return {};
  const qsizetype stride = static_cast<qsizetype>(width) * 4;
  const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return {};
  struct Mapping {
    void* at;
    std::size_t bytes;
  };
  QImage image(
      static_cast<uchar*>(memory), width, height, stride, QImage::Format_ARGB32_Premultiplied,
      [](void* info) {
        auto* mapping = static_cast<Mapping*>(info);
        munmap(mapping->at, mapping->bytes);
        delete mapping;
      },
      new Mapping{memory, bytes});
  image.setDevicePixelRatio(scale);
  return image;
}

}  // namespace tolvane::qt
