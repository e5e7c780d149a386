// The Shell's windows as the desktop model's toplevel source: the extension's list and its
// news, under ids of Tolvane's own (Mutter's may come again after the Shell restarts).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "backends/gnome/shell_bus.h"
#include "backends/wayland/toplevel_model.h"

namespace tolvane::gnome {

/// Main thread only.
class GnomeWindows final : public wayland::ToplevelSource {
 public:
  explicit GnomeWindows(ShellBus& bus) : bus_(bus) {}

  /// The extension is there with `windows` (most recently used first): the list is lent anew,
  /// windows gone meanwhile closed.
  void lend(const std::vector<ShellWindow>& windows);
  /// The extension went (the Shell ended, the extension was disabled): every window closes
  /// and the list is withdrawn until lend().
  void withdraw();
  void changed(const ShellWindow& window);
  void closed(std::uint64_t shellId);

  bool lends() const override { return lends_; }
  std::vector<wayland::ToplevelState> toplevels() const override;
  void setObserver(Observer observer) override { observer_ = std::move(observer); }
  bool activate(wayland::ToplevelId id) override;
  bool close(wayland::ToplevelId id) override;
  bool setMinimized(wayland::ToplevelId id, bool minimized) override;

 private:
  /// The Shell's id of `id`, 0 when it is gone.
  std::uint64_t shellIdOf(wayland::ToplevelId id) const;
  wayland::ToplevelState stateOf(const ShellWindow& window);

  ShellBus& bus_;
  Observer observer_;
  bool lends_ = false;
  wayland::ToplevelId next_ = 1;
  std::map<std::uint64_t, wayland::ToplevelId> ids_;
  std::map<wayland::ToplevelId, wayland::ToplevelState> states_;
  /// In the order announced.
  std::vector<wayland::ToplevelId> order_;
};

}  // namespace tolvane::gnome
