// A surface of the desktop's overlay that panels paint whole frames into, where the desktop
// offers no window a panel could be (Wayland's layer shell): the backend provides it, the
// panels here paint into it.
#pragma once

#include <QPointF>
#include <QRect>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/event_tap.h"

namespace tolvane::qt {

class OverlayCanvas {
 public:
  /// Pixels to paint: premultiplied ARGB32 rows, `scale` device pixels per logical pixel, the
  /// top-left one at (`x`, `y`) of the canvas (logical).
  struct Frame {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int strideBytes = 0;
    int scale = 1;
    int x = 0;
    int y = 0;
  };

  virtual ~OverlayCanvas() = default;
  /// Where the canvas lies in the desktop's logical coordinates (the output it covers);
  /// nothing while it has no output.
  virtual std::optional<QRect> area() const = 0;
  /// Device pixels per logical pixel of that output: what a frame's `scale` will be.
  virtual int scale() const = 0;
  /// Paints a frame of the part `bounds` (logical, canvas coordinates); the rest of the canvas is
  /// transparent. `painter` runs now, or once the canvas can take one. Only `input` (within
  /// `bounds`) takes clicks; elsewhere they reach the windows below. The smaller `bounds`, the
  /// sooner a frame is on screen.
  virtual void paint(std::function<void(const Frame&)> painter, const QRect& bounds,
                     const QRect& input) = 0;
  /// Fully transparent again, taking no clicks.
  virtual void clear() = 0;
  /// A click at a point of the canvas (logical coordinates).
  virtual void setClickHandler(std::function<void(QPointF)> handler) = 0;

  /// A key pressed while the canvas holds the keyboard, and the text it types.
  struct Key {
    KeyEvent event;
    std::string text;
  };
  struct KeyboardHandler {
    std::function<void(const Key&)> pressed;
    /// The hold ended without releaseKeyboard (another surface took it, a watchdog let go).
    std::function<void()> lost;
  };
  /// Takes the keyboard for the canvas, exclusively, until releaseKeyboard; false when it
  /// cannot.
  virtual bool holdKeyboard(KeyboardHandler handler) = 0;
  virtual void releaseKeyboard() = 0;
};

}  // namespace tolvane::qt
