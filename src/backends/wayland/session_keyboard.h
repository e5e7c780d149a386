// The keyboard of a switcher session on Wayland: a surface of ours that takes the keyboard
// exclusively while the session lasts, and what its keyboard reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backends/wayland/keyboard_events.h"

namespace tolvane::wayland {

/// The modifiers the compositor says are held.
using HeldModifiers = Modifiers;

/// One key as the surface's keyboard reports it: its XKB keycode (evdev + 8) and the keysym it
/// types unshifted, with the text it types in the current state.
struct SessionKey {
  std::uint32_t xkbKeycode = 0;
  std::uint32_t keysym = 0;
  std::string text;
};

/// Main thread only, except releaseFromAnyThread. Events reach the handler from the
/// connection's dispatch, never from inside a call.
class SessionKeyboard {
 public:
  struct Handler {
    /// The keyboard arrived, with what was held already and the keys already down: a quick
    /// tap's release that came before the surface is seen here.
    std::function<void(const HeldModifiers&, const std::vector<SessionKey>& pressed)> entered;
    std::function<void(const SessionKey&, bool pressed)> key;
    std::function<void(const HeldModifiers&)> modifiers;
    /// The hold ended without release(): the compositor closed the surface, another surface
    /// took the keyboard, or the watchdog let go.
    std::function<void()> lost;
    /// The seat's keyboard went away while the surface was held: every key is up and no
    /// release will come. The surface still holds the keyboard the next one brings.
    std::function<void()> gone;
  };

  virtual ~SessionKeyboard() = default;
  virtual void setHandler(Handler handler) = 0;
  /// Maps the surface that takes the keyboard, on the output the session is shown on. False
  /// when it cannot (no layer shell, the connection is gone).
  virtual bool hold() = 0;
  /// Unmaps it: the keyboard goes back at once. Nothing happens when nothing is held.
  virtual void release() = 0;
  virtual bool isHeld() const = 0;
  /// Any thread, without waiting for the main thread: gives the keyboard back. False when
  /// nothing was held.
  virtual bool releaseFromAnyThread() = 0;
};

}  // namespace tolvane::wayland
