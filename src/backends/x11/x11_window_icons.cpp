// Parsing `_NET_WM_ICON`, whatever a client put there.
#include "backends/x11/x11_window_icons.h"

#include <cstring>
#include <vector>

#include "backends/x11/x11_connection.h"

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

// ICCCM WM_HINTS: the flags, then the icon pixmap at index 3 and its mask at index 7.
constexpr std::uint32_t kIconPixmapHint = 1u << 2;
constexpr std::uint32_t kIconMaskHint = 1u << 5;
constexpr std::size_t kHintsValues = 9;

struct Drawable {
  std::uint8_t depth = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
};

std::optional<Drawable> geometryOf(xcb_connection_t* connection, xcb_pixmap_t pixmap) {
  Reply<xcb_get_geometry_reply_t> reply(
      xcb_get_geometry_reply(connection, xcb_get_geometry(connection, pixmap), nullptr));
  if (!reply || reply->width == 0 || reply->height == 0 || reply->width > kMaxIconSide ||
      reply->height > kMaxIconSide) {
    return std::nullopt;
  }
  return Drawable{reply->depth, reply->width, reply->height};
}

/// The bits of a bitmap (depth 1), one byte per pixel, or nothing.
std::optional<std::vector<bool>> readBitmap(xcb_connection_t* connection, xcb_pixmap_t pixmap,
                                            const Drawable& size) {
  Reply<xcb_get_image_reply_t> image(
      xcb_get_image_reply(connection,
                          xcb_get_image(connection, XCB_IMAGE_FORMAT_XY_PIXMAP, pixmap, 0, 0,
                                        size.width, size.height, 1),
                          nullptr));
  if (!image) return std::nullopt;
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const std::size_t pad = setup->bitmap_format_scanline_pad;
  const std::size_t stride = (size.width + pad - 1) / pad * pad / 8;
  const auto length = static_cast<std::size_t>(xcb_get_image_data_length(image.get()));
  if (stride * size.height > length) return std::nullopt;
  const std::uint8_t* data = xcb_get_image_data(image.get());
  const bool lsbFirst = setup->bitmap_format_bit_order == XCB_IMAGE_ORDER_LSB_FIRST;
  std::vector<bool> bits(std::size_t{size.width} * size.height);
  for (std::size_t y = 0; y < size.height; ++y) {
    for (std::size_t x = 0; x < size.width; ++x) {
      const std::uint8_t byte = data[y * stride + x / 8];
      const unsigned bit = lsbFirst ? x % 8 : 7 - x % 8;
      bits[y * size.width + x] = (byte >> bit) & 1u;
    }
  }
  return bits;
}

/// The pixels of a pixmap of 24 or 32 bits (0xRRGGBB in 32-bit units, as a TrueColor server
/// with the usual masks stores them), made opaque; nothing for other formats.
std::optional<std::vector<std::uint32_t>> readColours(xcb_connection_t* connection,
                                                      xcb_pixmap_t pixmap, const Drawable& size) {
  if (size.depth != 24 && size.depth != 32) return std::nullopt;
  Reply<xcb_get_image_reply_t> image(
      xcb_get_image_reply(connection,
                          xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, 0, 0,
                                        size.width, size.height, 0xffffffff),
                          nullptr));
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const std::size_t count = std::size_t{size.width} * size.height;
  if (!image || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST ||
      static_cast<std::size_t>(xcb_get_image_data_length(image.get())) < count * 4) {
    return std::nullopt;
  }
  std::vector<std::uint32_t> pixels(count);
  std::memcpy(pixels.data(), xcb_get_image_data(image.get()), count * 4);
  for (auto& pixel : pixels) pixel = 0xff000000u | (pixel & 0xffffffu);
  return pixels;
}

}  // namespace

std::shared_ptr<const WindowIcon> readHintsIcon(xcb_connection_t* connection, xcb_window_t window) {
  Reply<xcb_get_property_reply_t> hints(
      xcb_get_property_reply(connection,
                             xcb_get_property(connection, 0, window, XCB_ATOM_WM_HINTS,
                                              XCB_ATOM_WM_HINTS, 0, kHintsValues),
                             nullptr));
  if (!hints || hints->format != 32 ||
      static_cast<std::size_t>(xcb_get_property_value_length(hints.get())) < kHintsValues * 4) {
    return nullptr;
  }
  const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(hints.get()));
  if (!(values[0] & kIconPixmapHint) || values[3] == XCB_PIXMAP_NONE) return nullptr;
  const auto size = geometryOf(connection, values[3]);
  if (!size) return nullptr;
  std::vector<std::uint32_t> pixels;
  if (size->depth == 1) {
    const auto bits = readBitmap(connection, values[3], *size);
    if (!bits) return nullptr;
    for (const bool set : *bits) pixels.push_back(set ? 0xff000000u : 0xffffffffu);
  } else if (auto colours = readColours(connection, values[3], *size)) {
    pixels = std::move(*colours);
  } else {
    return nullptr;
  }
  // A mask of another size than the icon is ignored rather than trusted.
  if ((values[0] & kIconMaskHint) && values[7] != XCB_PIXMAP_NONE) {
    const auto maskSize = geometryOf(connection, values[7]);
    if (maskSize && maskSize->depth == 1 && maskSize->width == size->width &&
        maskSize->height == size->height) {
      if (const auto mask = readBitmap(connection, values[7], *maskSize)) {
        for (std::size_t i = 0; i < pixels.size(); ++i) {
          if (!(*mask)[i]) pixels[i] = 0;
        }
      }
    }
  }
  return std::make_shared<const WindowIcon>(
      WindowIcon{size->width, size->height, std::move(pixels)});
}

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
