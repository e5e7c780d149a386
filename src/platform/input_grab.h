// A hold on the user's keyboard and pointer for one window of this application: how a panel
// that must not take the window manager's focus still receives every key and every click.
#pragma once

#include <cstdint>
#include <functional>

namespace tolvane {

/// Main thread only. The display server ends the hold when the process stops, and a watchdog
/// may end it from its own thread; the lost handler reports that.
class InputGrab {
 public:
  enum class Outcome {
    taken,
    /// Another program holds the keyboard or the pointer, or the window is not viewable yet:
    /// worth trying again shortly.
    busy,
    /// Nothing to try again: no display, or the display refused for good.
    failed,
  };

  virtual ~InputGrab() = default;
  /// Takes the keyboard and the pointer for `window` (its native id); on anything but `taken`
  /// nothing is held.
  virtual Outcome take(std::uint32_t window) = 0;
  /// Gives both back; nothing happens when nothing is held.
  virtual void release() = 0;
  virtual bool isHeld() const = 0;
  /// Called on the main thread when the hold ended without release(): the watchdog let go, or
  /// the window stopped being viewable.
  virtual void setLostHandler(std::function<void()> handler) = 0;
};

}  // namespace tolvane
