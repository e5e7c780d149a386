// Walking the root's children for a mapped override-redirect window, and reading its pixels.
#include "desktops/x11/support/overlay.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace tolvane::test {

std::optional<xcb_get_geometry_reply_t> mappedOverlay(xcb_connection_t* c, xcb_window_t root) {
  std::optional<xcb_get_geometry_reply_t> found;
  auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
  if (!tree) return found;
  const auto* children = xcb_query_tree_children(tree);
  const int count = xcb_query_tree_children_length(tree);
  // Every request first, then the replies: with a thousand frames on the root, one round trip
  // per child would make the look itself the slowest part of what a benchmark measures.
  std::vector<xcb_get_window_attributes_cookie_t> attributeCookies;
  std::vector<xcb_get_geometry_cookie_t> geometryCookies;
  for (int i = 0; i < count; ++i) {
    attributeCookies.push_back(xcb_get_window_attributes(c, children[i]));
    geometryCookies.push_back(xcb_get_geometry(c, children[i]));
  }
  for (int i = 0; i < count; ++i) {
    auto* attributes = xcb_get_window_attributes_reply(c, attributeCookies[i], nullptr);
    auto* geometry = xcb_get_geometry_reply(c, geometryCookies[i], nullptr);
    const bool overlay = attributes && attributes->override_redirect &&
                         attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    // Toolkits keep 1x1 helper windows mapped off-screen; a panel is larger.
    if (!found && overlay && geometry && geometry->width > 100 && geometry->height > 40) {
      found = *geometry;
    }
    std::free(geometry);
    std::free(attributes);
  }
  std::free(tree);
  return found;
}

bool keyboardGrabbedForPanel(const xcb_generic_event_t& event, xcb_window_t root) {
  if ((event.response_type & 0x7f) != XCB_FOCUS_OUT) return false;
  const auto& focus = reinterpret_cast<const xcb_focus_out_event_t&>(event);
  // A grab for a top-level window takes the focus from the focused window to one outside its
  // ancestry. When the grabbing client held a passive grab on the root (its hot key, not yet
  // released), its grab moves from the root to the panel instead: the root loses the focus to
  // an inferior. (The root's ungrab gives the focus back to an inferior too, in mode Ungrab.)
  // A grab on the root itself takes the focus from the focused window to an ancestor.
  const bool fromFocused =
      focus.mode == XCB_NOTIFY_MODE_GRAB && focus.detail == XCB_NOTIFY_DETAIL_NONLINEAR;
  const bool fromRoot =
      focus.event == root &&
      (focus.mode == XCB_NOTIFY_MODE_GRAB || focus.mode == XCB_NOTIFY_MODE_WHILE_GRABBED) &&
      focus.detail == XCB_NOTIFY_DETAIL_INFERIOR;
  return fromFocused || fromRoot;
}

bool showsColour(xcb_connection_t* c, xcb_window_t root, const xcb_get_geometry_reply_t& area,
                 std::uint32_t rgb, bool asText) {
  auto* image = xcb_get_image_reply(c,
                                    xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, area.x,
                                                  area.y, area.width, area.height, ~0u),
                                    nullptr);
  if (!image) return false;
  // 32 bits per pixel, blue first.
  const std::uint8_t* data = xcb_get_image_data(image);
  const int pixels = std::min(xcb_get_image_data_length(image) / 4, area.width * area.height);
  bool shown = false;
  for (int line = 0; line < pixels / area.width && !shown; ++line) {
    int count = 0;
    for (const std::uint8_t* p = data + 4 * line * area.width;
         p < data + 4 * (line + 1) * area.width; p += 4) {
      count += (p[0] | p[1] << 8 | p[2] << 16) == static_cast<int>(rgb);
    }
    shown = count > 0 && (!asText || 3 * count < area.width);
  }
  std::free(image);
  return shown;
}

}  // namespace tolvane::test
