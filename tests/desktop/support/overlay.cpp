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

bool showsColour(xcb_connection_t* c, xcb_window_t root, const xcb_get_geometry_reply_t& area,
                 std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  auto* image = xcb_get_image_reply(c,
                                    xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, area.x,
                                                  area.y, area.width, area.height, ~0u),
                                    nullptr);
  if (!image) return false;
  // 32 bits per pixel, blue first.
  const std::uint8_t* data = xcb_get_image_data(image);
  const int length = xcb_get_image_data_length(image);
  bool found = false;
  for (int i = 0; i + 2 < length && !found; i += 4) {
    found = data[i] == b && data[i + 1] == g && data[i + 2] == r;
  }
  std::free(image);
  return found;
}

}  // namespace tolvane::test
