// The compositor's windows through KDE's org_kde_plasma_window_management (KWin): a
// ToplevelSource.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/wayland/toplevel_model.h"

struct wl_display;
struct org_kde_plasma_window;
struct org_kde_plasma_window_management;

namespace tolvane::wayland {

/// The protocol has no `done`: a window's state is published whole after its `initial_state`
/// and then after each event that changes it (no coalescing per dispatch). Main thread only.
class PlasmaWindows : public ToplevelSource {
 public:
  /// The interface version to bind of what the compositor offers. From 11 on the manager sends
  /// the whole stacking order as one event, and from 12 as one string of every window's uuid:
  /// past about a hundred windows that event outgrows libwayland's 4096-byte message buffer and
  /// KWin 5 drops the connection ("Data too big for buffer"). KWin 5 (which offers 16) still
  /// announces windows by number at 10, which has neither; KWin 6 (17 and later) announces them
  /// by uuid only, so it gets 16, the newest this client knows. The focus history comes from the
  /// active state, so nothing of the newer versions is missed.
  static std::uint32_t versionFor(std::uint32_t offered) {
    return offered > 16 ? 16 : std::min<std::uint32_t>(offered, 10);
  }

  /// The name of the output showing the logical point (x, y); empty when none does.
  using OutputAt = std::function<std::string(int x, int y)>;

  /// Takes over `manager`.
  PlasmaWindows(wl_display* display, org_kde_plasma_window_management* manager, OutputAt outputAt);
  ~PlasmaWindows() override;
  PlasmaWindows(const PlasmaWindows&) = delete;
  PlasmaWindows& operator=(const PlasmaWindows&) = delete;

  std::vector<ToplevelState> toplevels() const override;
  void setObserver(Observer observer) override { observer_ = std::move(observer); }
  /// Needs no seat: KWin activates the window for its own.
  bool activate(ToplevelId id) override;
  bool close(ToplevelId id) override;
  bool setMinimized(ToplevelId id, bool minimized) override;
  /// The compositor removed the global: every window closes, then `finished`.
  void withdraw();

  struct Entry;
  struct Events;

 private:
  Entry* find(ToplevelId id) const;
  void add(org_kde_plasma_window* window);
  /// Publishes `entry` when it has had its initial state and `before` differs from it now.
  void changed(Entry& entry, const ToplevelState& before);
  void publish(Entry& entry);
  void remove(Entry& entry);

  wl_display* display_;
  org_kde_plasma_window_management* manager_;
  OutputAt outputAt_;
  Observer observer_;
  std::vector<std::unique_ptr<Entry>> entries_;
  ToplevelId nextId_ = 1;
};

}  // namespace tolvane::wayland
