// The X11 desktop as the window server: window lists, EWMH desktops as Spaces, the secure
// input probe and whether a process exists. (The cache they read: x11_desktop.cpp.)
//
//   WindowServer                     | on X11
//   ---------------------------------+-------------------------------------------------------------
//   on-screen windows                | _NET_CLIENT_LIST_STACKING topmost first, not hidden, on the
//                                    | current desktop or sticky; desktop-type windows left out
//   every window                     | stacking order, then _NET_CLIENT_LIST
//   window number, layer             | the XID; layer 0, docks kDockLayer
//   Spaces, windows on Spaces        | EWMH desktops (_NET_NUMBER_OF_DESKTOPS, _NET_WM_DESKTOP),
//                                    | Space id = desktop + 1; connection id kConnectionID
//   remote tokens                    | none (hasRemoteTokens false)
//   symbolic hotkeys                 | none: no setter, so the guard stands down
//   secure input                     | another client holds the keyboard (the tap's probe); no pid
//   process exists                   | kill(pid, 0); a synthetic pid while its client has windows
#include "backends/x11/x11_desktop.h"

#include <algorithm>
#include <unordered_set>

namespace tolvane::x11 {

std::optional<std::vector<WindowInfo>> X11Desktop::onScreenWindows() {
  if (connectionLost()) return std::nullopt;
  std::vector<WindowInfo> list;
  for (auto it = stacking_.rbegin(); it != stacking_.rend(); ++it) {
    const Client* client = findClient(*it);
    if (client && !isDesktopElement(*client) && isVisible(*client)) {
      list.push_back(infoOf(*it, *client));
    }
  }
  return list;
}

std::optional<std::vector<WindowInfo>> X11Desktop::allWindows() {
  if (connectionLost()) return std::nullopt;
  std::vector<WindowInfo> list;
  std::unordered_set<xcb_window_t> listed;
  const auto add = [&](xcb_window_t window) {
    const Client* client = findClient(window);
    if (!client || isDesktopElement(*client) || !listed.insert(window).second) return;
    list.push_back(infoOf(window, *client));
  };
  std::for_each(stacking_.rbegin(), stacking_.rend(), add);
  std::for_each(clientOrder_.begin(), clientOrder_.end(), add);
  return list;
}

std::vector<std::uint64_t> X11Desktop::spaces() const {
  std::vector<std::uint64_t> spaces;
  for (std::uint32_t desktop = 0; desktop < numberOfDesktops_; ++desktop) {
    spaces.push_back(std::uint64_t{desktop} + 1);
  }
  return spaces;
}

std::vector<std::uint32_t> X11Desktop::windowsOnSpaces(
    const std::vector<std::uint64_t>& spaces) const {
  std::vector<std::uint32_t> numbers;
  for (auto window : clientOrder_) {
    const Client& client = clients_.at(window);
    if (isDesktopElement(client)) continue;
    const std::uint32_t desktop = client.facts.desktop.value_or(currentDesktop_);
    const bool everywhere = desktop == kAllDesktops || client.facts.hasState(atoms_.stateSticky);
    const bool onOne =
        std::find(spaces.begin(), spaces.end(), std::uint64_t{desktop} + 1) != spaces.end();
    if ((everywhere && !spaces.empty()) || (!everywhere && onOne)) numbers.push_back(window);
  }
  return numbers;
}

bool X11Desktop::isSecureInputEnabled() {
  return secureInputProbe_ && secureInputProbe_();
}

}  // namespace tolvane::x11
