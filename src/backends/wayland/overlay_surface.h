// A surface on the overlay layer that holds the keyboard during a switcher session and, over
// the part of the output a panel covers, shows what its painter draws into shared-memory buffers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "backends/wayland/compositor_link.h"
#include "backends/wayland/keyboard_events.h"
#include "base/geometry.h"

namespace tolvane::wayland {

class WaylandClient;

/// Transparent and click-through until painted; holds the keyboard exclusively from hold() to
/// release(), with the compositor's own shortcuts inhibited meanwhile where it offers that.
/// Main thread only, except releaseFromAnyThread(). Must go before its client.
class OverlaySurface final : public OverlayHost {
 public:
  explicit OverlaySurface(WaylandClient& client);
  ~OverlaySurface() override;
  OverlaySurface(const OverlaySurface&) = delete;
  OverlaySurface& operator=(const OverlaySurface&) = delete;

  /// Maps a transparent surface over the output named `outputName` (empty: the compositor's
  /// choice) with exclusive keyboard. False without a layer shell or such an output.
  bool hold(const std::string& outputName) override;
  /// Moves the surface over `bounds` and draws `painter`'s frame of that size (now, or after the
  /// first configure), making `inputArea` the clickable part; both are logical coordinates within
  /// the output. The painter is kept and runs again when the compositor asks for a new frame.
  void paint(Painter painter, Rect bounds, Rect inputArea) override;
  /// Transparent and click-through again; the keyboard stays held.
  void clear() override;
  /// Unmaps and destroys the surface: the keyboard goes back. Idempotent.
  void release() override;
  bool isHeld() const override;
  /// Where the surface's top-left lies on its output (logical): surface-local clicks plus this
  /// are output coordinates.
  Point origin() const override;

  /// From any thread, never waiting on the main thread: gives the keyboard back and unmaps the
  /// surface. False when nothing was held. The main thread finishes the cleanup (and reports
  /// `lost`) in finishAnyThreadRelease(), which its next dispatch and every call here run.
  bool releaseFromAnyThread() override;
  void finishAnyThreadRelease();

  /// The surface goes once `handler.left` has run (unless the holder held it again there): a
  /// surface that lost the keyboard would otherwise stay mapped with nobody to release it, and
  /// take the keyboard back from the window the session chose.
  void setKeyboardHandler(KeyboardHandler handler) override;
  void setClickHandler(ClickHandler handler) override { click_ = std::move(handler); }
  /// The compositor closed the surface, or the watchdog released it.
  void setLostHandler(std::function<void()> handler) override { lost_ = std::move(handler); }

  struct Surface;
  struct Pool;
  /// The layer surface's events (called from its listener).
  void onConfigureFor(std::uint32_t serial, std::uint32_t width, std::uint32_t height);
  void onClosedFor();

 private:
  // Who may touch the live surface's objects. Only a successful exchange from Held lets a thread
  // send on them; the main thread destroys them only once no watchdog release is under way.
  enum class Hold { None, Held, WatchdogSending, WatchdogDone };

  void destroySurface();
  void keepOneBuffer();
  void bufferReleased(std::size_t index);
  void place(Surface& s);
  void draw();

  WaylandClient& client_;
  std::unique_ptr<Surface> surface_;
  // Buffers outlive the surface they were drawn for (see keepOneBuffer).
  std::unique_ptr<Pool> pool_;
  std::atomic<Hold> hold_{Hold::None};
  // Held by the main thread while it sends a frame, so that a watchdog release does not
  // interleave with it unless the main thread is stuck there.
  std::mutex sending_;
  Painter painter_;
  Rect inputArea_;
  KeyboardHandler keyboard_;
  ClickHandler click_;
  std::function<void()> lost_;
  // Counts hold() calls, so that a release after a callback spares a surface held anew in it.
  std::uint64_t holds_ = 0;
};

}  // namespace tolvane::wayland
