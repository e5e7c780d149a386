// Tolvane's part of the compositor beyond the Wayland protocols: where the trigger bindings are
// installed and where their presses come from (sway's IPC, a KWin script over the session bus).
// The shell picks one at start and feeds it the one trigger path.
#pragma once

#include <functional>

#include "backends/wayland/compositor_triggers.h"
#include "backends/wayland/wayland_event_tap.h"

namespace tolvane::wayland {

/// Main thread only, except what the bindings say of removeFromAnyThread.
class CompositorSession {
 public:
  virtual ~CompositorSession() = default;
  /// Whether Tolvane installs the bindings itself; without it the user binds the front door.
  virtual bool connected() const = 0;
  /// The connection whose readability calls readEvents(); -1 when there is none.
  virtual int eventFd() const = 0;
  /// The bindings of the switcher's triggers and of the palette's hot key: each set is
  /// installed and taken back on its own.
  virtual TriggerBindings switcherBindings() = 0;
  virtual TriggerBindings paletteBindings() = 0;
  /// Where the presses go, and who hears that the windows changed beyond the protocol's news.
  virtual void feed(CompositorTriggers& triggers, std::function<void()> windowsChanged) = 0;
  /// Handles what the event connection holds.
  virtual void readEvents() = 0;
  /// Takes back every binding Tolvane added, whatever else has or has not been torn down.
  virtual void removeBindings() = 0;
};

}  // namespace tolvane::wayland
