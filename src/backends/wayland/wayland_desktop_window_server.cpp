// The Wayland desktop as the window server: window lists, sway's workspaces or Plasma's virtual
// desktops as Spaces, and whether a process exists. (The state they read: wayland_desktop.cpp.)
//
//   WindowServer                     | on Wayland
//   ---------------------------------+-------------------------------------------------------------
//   on-screen windows                | every toplevel not minimized, focused first, then by focus
//                                    | recency (at start: sway's focus order)
//   every window                     | every toplevel, in the same order
//   window number, layer, owner      | the ToplevelId; layer 0; the application's pid
//   Spaces, windows on Spaces        | with sway: one per workspace name (ids from 1, kept per
//                                    | name), windows by their paired view; where the states
//                                    | name virtual desktops: one per desktop id (kept alike),
//                                    | a window on all desktops on each; else Space 1, all
//   remote tokens, symbolic hotkeys  | none
//   secure input                     | never known
//   process exists                   | kill(pid, 0); a synthetic pid while its app has windows
#include "backends/wayland/wayland_desktop.h"

#include <algorithm>
#include <limits>

namespace tolvane::wayland {

namespace {

/// The one Space of a desktop without workspaces.
constexpr std::uint64_t kOnlySpace = 1;

bool contains(const std::vector<std::uint64_t>& list, std::uint64_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

std::optional<std::vector<WindowInfo>> WaylandDesktop::onScreenWindows() {
  std::vector<WindowInfo> list;
  for (auto id : frontToBack()) {
    if (!windows_.at(id).state.minimized) list.push_back(infoOf(id));
  }
  return list;
}

std::optional<std::vector<WindowInfo>> WaylandDesktop::allWindows() {
  std::vector<WindowInfo> list;
  for (auto id : frontToBack()) list.push_back(infoOf(id));
  return list;
}

std::vector<std::uint64_t> WaylandDesktop::spaces() const {
  const bool desktops = !sway_.views && desktopsKnown();
  if (!sway_.views && !desktops) return std::vector<std::uint64_t>{kOnlySpace};
  std::vector<std::uint64_t> spaces;
  const auto add = [&](const std::string& name) {
    if (!name.empty() && !contains(spaces, spaceIds_.at(name)))
      spaces.push_back(spaceIds_.at(name));
  };
  for (const auto& view : views_) add(view.workspace);
  if (desktops) {
    for (const auto& [id, window] : windows_) {
      for (const auto& desktop : window.state.desktops) add(desktop);
    }
  }
  std::sort(spaces.begin(), spaces.end());
  return spaces;
}

std::vector<std::uint32_t> WaylandDesktop::windowsOnSpaces(
    const std::vector<std::uint64_t>& spaces) const {
  const bool desktops = !sway_.views && desktopsKnown();
  std::vector<std::uint32_t> numbers;
  for (auto id : order_) {
    if (id > std::numeric_limits<std::uint32_t>::max()) continue;
    const ToplevelState& state = windows_.at(id).state;
    bool on = false;
    if (desktops) {
      on = !spaces.empty() && state.onAllDesktops;
      for (const auto& desktop : state.desktops) on = on || contains(spaces, spaceIds_.at(desktop));
    } else if (!sway_.views) {
      on = contains(spaces, kOnlySpace);
    } else if (const sway::SwayView* view = viewOf(id); view && !view->workspace.empty()) {
      // A window sway has not shown in its tree yet is on no Space: AXWindows lists it anyway.
      on = contains(spaces, spaceIds_.at(view->workspace));
    }
    if (on) numbers.push_back(static_cast<std::uint32_t>(id));
  }
  return numbers;
}

std::string WaylandDesktop::focusedOutput() const {
  if (!focused_) return {};
  if (const sway::SwayView* view = viewOf(*focused_); view && !view->output.empty()) {
    return view->output;
  }
  const Window* window = findWindow(*focused_);
  return window && !window->state.outputs.empty() ? window->state.outputs.front() : std::string();
}

}  // namespace tolvane::wayland
