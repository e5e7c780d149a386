// What sway's tree says of one window (a "view"): the facts the Wayland protocols leave out.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane::sway {

struct SwayView {
  /// The container id, for "[con_id=N] …" commands.
  std::int64_t conId = 0;
  /// 0 when sway does not know it.
  std::int32_t pid = 0;
  /// app_id for Wayland views (the window class for XWayland ones); may be empty.
  std::string appId;
  /// The title (sway's "name"); may be empty.
  std::string title;
  /// The workspace's name ("1", "2: web"); empty for the scratchpad.
  std::string workspace;
  /// The output that shows the workspace ("HEADLESS-1").
  std::string output;
  bool focused = false;
  /// Whether its workspace is visible on its output right now.
  bool workspaceVisible = false;
  /// The view's place in the focus history, 0 the most recent: across workspaces, a view
  /// focused more recently on its workspace comes first, and workspaces follow their own
  /// focus order on the outputs.
  int focusRank = 0;
  bool operator==(const SwayView&) const = default;
};

}  // namespace tolvane::sway
