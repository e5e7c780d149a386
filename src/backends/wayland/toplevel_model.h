// The toplevel windows a Wayland compositor announces to a window-management client, as plain
// values: what the desktop mapping reads, whether the foreign-toplevel protocol, Plasma's window
// management or a test's fake stands behind it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tolvane::wayland {

/// Names one toplevel for the life of this process: never handed out twice, even when the
/// compositor reuses its objects.
using ToplevelId = std::uint64_t;

/// A toplevel's state as of the compositor's latest `done`: nothing here is ever half-updated.
/// The fields after `outputs` only Plasma reports; wlroots compositors leave them unknown.
struct ToplevelState {
  ToplevelId id = 0;
  /// Valid UTF-8 and bounded; may be empty (the compositor sends none until the client sets it).
  std::string title;
  std::string appId;
  bool activated = false;
  bool minimized = false;
  bool maximized = false;
  bool fullscreen = false;
  /// The names of the outputs the toplevel is on ("HEADLESS-1", "DP-2"); empty when unknown.
  std::vector<std::string> outputs;
  /// The process the compositor saw create the window; 0 when unknown.
  std::int32_t pid = 0;
  /// The compositor's ids of the virtual desktops the window is on, each once; empty when
  /// unknown or when the window is on all of them.
  std::vector<std::string> desktops;
  bool onAllDesktops = false;
  /// The window asks not to be listed by task switchers (or task bars): panels, the desktop.
  bool skipSwitcher = false;
  bool operator==(const ToplevelState&) const = default;
};

/// Where the toplevels come from. Main thread only; observers run on the main thread from the
/// source's event handling, never from inside a call of this interface.
class ToplevelSource {
 public:
  struct Observer {
    /// A toplevel was announced or changed; called once per `done`, with the whole state.
    std::function<void(const ToplevelState&)> changed;
    /// The toplevel is gone (closed by its client, or the compositor forgot it).
    std::function<void(ToplevelId)> closed;
    /// The compositor withdrew the list (it is going away, or stopped the manager): every
    /// toplevel is closed by then.
    std::function<void()> finished;
    /// The list is lent again after `finished` (a GNOME Shell that restarted); the toplevels
    /// follow as `changed`.
    std::function<void()> lent;
  };

  virtual ~ToplevelSource() = default;
  /// Whether the compositor lends its list now: false from the start where it has not yet.
  virtual bool lends() const { return true; }
  /// Every live toplevel, in the order the compositor announced them.
  virtual std::vector<ToplevelState> toplevels() const = 0;
  virtual void setObserver(Observer observer) = 0;
  /// Asks the compositor to focus the toplevel on this client's seat, after un-minimizing it
  /// first when it is minimized. False when the toplevel is gone (nothing is sent then). The
  /// outcome arrives as a `changed` with `activated`, or never.
  virtual bool activate(ToplevelId id) = 0;
  /// Asks the toplevel's client to close it; false when it is gone.
  virtual bool close(ToplevelId id) = 0;
  virtual bool setMinimized(ToplevelId id, bool minimized) = 0;
};

}  // namespace tolvane::wayland
