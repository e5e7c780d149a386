// Windows' own icons from `_NET_WM_ICON`: a bounded read, validation of every entry, and the
// choice of the size nearest to what is asked.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/window_icon.h"

namespace tolvane::x11 {

/// The widest and tallest icon accepted; larger entries are skipped.
inline constexpr std::uint32_t kMaxIconSide = 1024;
/// How much of the property is read at most, in 32-bit values: one icon of the largest size and
/// room for smaller ones. Entries beyond it are not seen.
inline constexpr std::uint32_t kMaxIconPropertyValues = kMaxIconSide * kMaxIconSide + (1u << 16);

/// The entry of a `_NET_WM_ICON` value list (width, height, then width × height ARGB pixels,
/// repeated) nearest to `side`: the smallest at least `side` wide and high, else the largest.
/// Reading stops at the first malformed entry (a zero or oversized side, or fewer pixels than
/// it claims); nothing when no entry before it is usable.
std::optional<WindowIcon> nearestIcon(std::span<const std::uint32_t> values, int side);

/// Reads `_NET_WM_ICON` (`property`) of `window` and picks as nearestIcon does; null when the
/// window has no usable icon, is gone, or the property is not a 32-bit CARDINAL list.
std::shared_ptr<const WindowIcon> readWindowIcon(xcb_connection_t* connection, xcb_window_t window,
                                                 xcb_atom_t property, int side);

/// The icon of the window's ICCCM hints (`WM_HINTS` icon pixmap, with its mask when it has
/// one), for clients that set no `_NET_WM_ICON` (xterm): a bitmap is drawn black on white, a
/// pixmap of 24 or 32 bits per pixel in its own colours. Null when there is none, it is larger
/// than kMaxIconSide a side, or its format is another.
std::shared_ptr<const WindowIcon> readHintsIcon(xcb_connection_t* connection, xcb_window_t window);

}  // namespace tolvane::x11
