// The extension's windows as toplevels.
//
//   toplevel                  | the extension's window
//   --------------------------+------------------------------------------------------------------
//   id                        | Tolvane's own number for Mutter's window id, while the Shell runs
//   title                     | the title
//   appId                     | the WM class (Mutter's name for the Wayland app_id), else the
//                             | Shell's app id without ".desktop"
//   pid                       | the pid Mutter saw
//   activated                 | has the focus
//   minimized                 | minimized
//   outputs                   | the monitor's index, as the link names monitors
//   desktops, onAllDesktops   | the workspace's index; on all of them for -1
//   skipSwitcher              | skip-taskbar
//   announcement order        | most recently used first at lend(), then as they appear
#include "backends/gnome/gnome_windows.h"

#include <algorithm>
#include <string>

namespace tolvane::gnome {

namespace {

std::string appIdOf(const ShellWindow& window) {
  if (!window.wmClass.empty()) return window.wmClass;
  constexpr std::string_view kSuffix = ".desktop";
  std::string id = window.appId;
  if (id.size() > kSuffix.size() && id.ends_with(kSuffix)) id.resize(id.size() - kSuffix.size());
  return id;
}

}  // namespace

wayland::ToplevelState GnomeWindows::stateOf(const ShellWindow& window) {
  auto [it, fresh] = ids_.try_emplace(window.id, 0);
  if (fresh) it->second = next_++;
  wayland::ToplevelState state;
  state.id = it->second;
  state.title = window.title;
  state.appId = appIdOf(window);
  state.pid = window.pid;
  state.activated = window.focused;
  state.minimized = window.minimized;
  state.outputs = {std::to_string(window.monitor)};
  if (window.workspace >= 0) state.desktops = {std::to_string(window.workspace)};
  state.onAllDesktops = window.workspace < 0;
  state.skipSwitcher = window.skipTaskbar;
  return state;
}

void GnomeWindows::lend(const std::vector<ShellWindow>& windows) {
  const bool again = !lends_;
  lends_ = true;
  if (again && observer_.lent) observer_.lent();
  std::map<std::uint64_t, bool> listed;
  for (const auto& window : windows) listed[window.id] = true;
  std::vector<std::uint64_t> gone;
  for (const auto& [shellId, id] : ids_) {
    if (!listed.count(shellId)) gone.push_back(shellId);
  }
  for (auto shellId : gone) closed(shellId);
  for (const auto& window : windows) changed(window);
}

void GnomeWindows::withdraw() {
  if (!lends_) return;
  lends_ = false;
  std::vector<std::uint64_t> all;
  for (const auto& entry : ids_) all.push_back(entry.first);
  for (auto shellId : all) closed(shellId);
  if (observer_.finished) observer_.finished();
}

void GnomeWindows::changed(const ShellWindow& window) {
  if (!lends_) return;
  const auto state = stateOf(window);
  auto [it, fresh] = states_.try_emplace(state.id, state);
  if (fresh) {
    order_.push_back(state.id);
  } else if (it->second == state) {
    return;
  } else {
    it->second = state;
  }
  if (observer_.changed) observer_.changed(state);
}

void GnomeWindows::closed(std::uint64_t shellId) {
  const auto it = ids_.find(shellId);
  if (it == ids_.end()) return;
  const auto id = it->second;
  ids_.erase(it);
  const bool known = states_.erase(id) > 0;
  std::erase(order_, id);
  if (known && observer_.closed) observer_.closed(id);
}

std::vector<wayland::ToplevelState> GnomeWindows::toplevels() const {
  std::vector<wayland::ToplevelState> list;
  list.reserve(order_.size());
  for (auto id : order_) list.push_back(states_.at(id));
  return list;
}

std::uint64_t GnomeWindows::shellIdOf(wayland::ToplevelId id) const {
  for (const auto& [shellId, own] : ids_) {
    if (own == id) return shellId;
  }
  return 0;
}

bool GnomeWindows::activate(wayland::ToplevelId id) {
  const auto shellId = shellIdOf(id);
  return shellId && bus_.activate(shellId);
}

bool GnomeWindows::close(wayland::ToplevelId id) {
  const auto shellId = shellIdOf(id);
  return shellId && bus_.close(shellId);
}

bool GnomeWindows::setMinimized(wayland::ToplevelId id, bool minimized) {
  const auto shellId = shellIdOf(id);
  return shellId && bus_.setMinimized(shellId, minimized);
}

}  // namespace tolvane::gnome
