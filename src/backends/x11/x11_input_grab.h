// The palette's hold on the keyboard and pointer on X11: active grabs on one of our own windows,
// so that keys and clicks reach it while the window manager's focus stays where it was.
#pragma once

#include <cstdint>
#include <functional>

#include "backends/x11/x11_connection.h"
#include "platform/input_grab.h"

namespace tolvane::x11 {

/// Main thread only. Both grabs are asynchronous (nothing freezes) and owner_events: events for
/// the grabbing client's own windows arrive as usual, everything else comes to the grab window,
/// so a click outside it is seen there. They are taken on the shared connection, so the event
/// tap's release from the watchdog's thread ends them too; this object hears of it from the
/// server (the grab window's FocusOut with mode NotifyUngrab) and reports the loss.
class X11InputGrab final : public InputGrab, private EventSink {
 public:
  explicit X11InputGrab(Connection& connection);
  ~X11InputGrab() override;
  X11InputGrab(const X11InputGrab&) = delete;
  X11InputGrab& operator=(const X11InputGrab&) = delete;

  Outcome take(std::uint32_t window) override;
  void release() override;
  bool isHeld() const override { return window_ != XCB_WINDOW_NONE; }
  void setLostHandler(std::function<void()> handler) override { lost_ = std::move(handler); }
  /// Told whenever the hold starts or ends, so that whoever releases the keyboard from another
  /// thread knows there is something to release; a start is told before the grab is asked for,
  /// and an end follows when it is refused.
  void setHoldObserver(std::function<void(bool held)> observer) {
    holdObserver_ = std::move(observer);
  }

 private:
  bool handleEvent(const xcb_generic_event_t& event) override;
  void setHeld(xcb_window_t window);

  Connection& connection_;
  std::function<void()> lost_;
  std::function<void(bool)> holdObserver_;
  /// The window the keyboard grab holds for; XCB_WINDOW_NONE while nothing is held.
  xcb_window_t window_ = XCB_WINDOW_NONE;
  /// The request that took the keyboard: an ungrab notice generated before it belongs to an
  /// earlier hold.
  std::uint32_t grabSequence_ = 0;
};

}  // namespace tolvane::x11
