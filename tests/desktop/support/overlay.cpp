// Walking the root's children for a mapped override-redirect window.
#include "desktop/support/overlay.h"

#include <cstdlib>

namespace tolvane::test {

std::optional<xcb_get_geometry_reply_t> mappedOverlay(xcb_connection_t* c, xcb_window_t root) {
  std::optional<xcb_get_geometry_reply_t> found;
  auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
  if (!tree) return found;
  const auto* children = xcb_query_tree_children(tree);
  for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
    auto* attributes =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
    if (attributes && attributes->override_redirect &&
        attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
      auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr);
      // Toolkits keep 1x1 helper windows mapped off-screen; a panel is larger.
      if (geometry && geometry->width > 100 && geometry->height > 40) found = *geometry;
      std::free(geometry);
    }
    std::free(attributes);
  }
  std::free(tree);
  return found;
}

}  // namespace tolvane::test
