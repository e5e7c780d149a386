// The one way in for a compositor trigger, wherever it comes from (sway's binding event, the
// front door's hand-off, a compositor script): the trigger word becomes the switcher's key
// press on the tap or the palette's hot key, here and nowhere else.
#pragma once

#include <string_view>

#include "backends/wayland/wayland_event_tap.h"
#include "backends/wayland/wayland_hot_keys.h"
#include "model/compositor_trigger.h"

namespace tolvane::wayland {

/// Main thread only.
class CompositorTriggers {
 public:
  /// `tap` and `hotKeys` must outlive this object.
  CompositorTriggers(WaylandEventTap& tap, WaylandHotKeys& hotKeys)
      : tap_(tap), hotKeys_(hotKeys) {}

  /// A trigger binding fired.
  void fire(Trigger trigger);
  /// A message another `tolvane` handed over: true when it was a trigger hand-off (an unknown
  /// word does nothing), false for the messages meant for the application.
  bool handOff(std::string_view message);
  /// Something took every binding back behind the tap's and the hot keys' backs (the stall
  /// watchdog): both install theirs again.
  void bindingsTakenBack();
  /// Whether a switcher session's surface holds the keyboard (a compositor script's heartbeat).
  bool sessionHoldsKeyboard() const { return tap_.holdsKeyboard(); }

 private:
  WaylandEventTap& tap_;
  WaylandHotKeys& hotKeys_;
};

}  // namespace tolvane::wayland
