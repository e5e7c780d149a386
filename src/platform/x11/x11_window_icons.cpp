// Parsing `_NET_WM_ICON`, whatever a client put there.
#include "platform/x11/x11_window_icons.h"

#include <cstring>

#include "platform/x11/x11_connection.h"

namespace tolvane::x11 {

namespace {

struct Entry {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t offset = 0;  // of the first pixel
};

/// Better for `side`: big enough beats too small; among big enough the smaller, among too small
/// the larger.
bool nearer(const Entry& candidate, const Entry& best, std::uint32_t side) {
  const std::uint32_t candidateSide = std::min(candidate.width, candidate.height);
  const std::uint32_t bestSide = std::min(best.width, best.height);
  const bool candidateFits = candidateSide >= side;
  const bool bestFits = bestSide >= side;
  if (candidateFits != bestFits) return candidateFits;
  return candidateFits ? candidateSide < bestSide : candidateSide > bestSide;
}

}  // namespace

std::optional<WindowIcon> nearestIcon(std::span<const std::uint32_t> values, int side) {
  const auto wanted = static_cast<std::uint32_t>(std::max(side, 1));
  std::optional<Entry> best;
  std::size_t at = 0;
  while (values.size() - at >= 2) {
    const Entry entry{values[at], values[at + 1], at + 2};
    if (entry.width == 0 || entry.height == 0 || entry.width > kMaxIconSide ||
        entry.height > kMaxIconSide) {
      break;
    }
    // Both sides are at most 2^10, so the product cannot overflow.
    const std::size_t pixels = std::size_t{entry.width} * entry.height;
    if (values.size() - entry.offset < pixels) break;
    if (!best || nearer(entry, *best, wanted)) best = entry;
    at = entry.offset + pixels;
  }
  if (!best) return std::nullopt;
  WindowIcon icon{static_cast<int>(best->width), static_cast<int>(best->height), {}};
  const auto first = values.begin() + static_cast<std::ptrdiff_t>(best->offset);
  icon.argb.assign(first, first + static_cast<std::ptrdiff_t>(best->width * best->height));
  return icon;
}

std::shared_ptr<const WindowIcon> readWindowIcon(xcb_connection_t* connection, xcb_window_t window,
                                                 xcb_atom_t property, int side) {
  if (property == XCB_ATOM_NONE) return nullptr;
  Reply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(connection,
                             xcb_get_property(connection, 0, window, property, XCB_ATOM_CARDINAL, 0,
                                              kMaxIconPropertyValues),
                             nullptr));
  if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32) return nullptr;
  const int length = xcb_get_property_value_length(reply.get());
  if (length <= 0) return nullptr;
  std::span<const std::uint32_t> values(
      static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())),
      static_cast<std::size_t>(length) / 4);
  auto icon = nearestIcon(values, side);
  if (!icon) return nullptr;
  return std::make_shared<const WindowIcon>(std::move(*icon));
}

}  // namespace tolvane::x11
