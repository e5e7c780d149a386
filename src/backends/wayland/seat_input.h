// The seat's keyboard and pointer, shared by every surface of this client: translates keys with
// xkbcommon and hands each event to the surface it is for.
#pragma once

#include <memory>

#include "backends/wayland/keyboard_events.h"

struct wl_seat;
struct wl_surface;

namespace tolvane::wayland {

/// Follows the seat's capabilities (a keyboard may come and go, as a virtual one does) and routes
/// keyboard and pointer events by surface. Events for surfaces nobody routed are dropped. Main
/// thread only.
class SeatInput {
 public:
  SeatInput();
  ~SeatInput();
  SeatInput(const SeatInput&) = delete;
  SeatInput& operator=(const SeatInput&) = delete;

  /// Starts listening to `seat`, which the caller keeps alive for as long as this object.
  void attach(wl_seat* seat);
  /// Lets go of the keyboard and the pointer, before the seat is destroyed.
  void detach();
  /// Sends the events for `surface` to the handlers, which must outlive the route. The handlers
  /// may remove their route from inside a callback.
  void route(wl_surface* surface, const KeyboardHandler* keyboard, const ClickHandler* click);
  /// Stops routing `surface`; no event for it is delivered afterwards.
  void unroute(wl_surface* surface);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace tolvane::wayland
