// A window's own icon as the window itself provides it, in plain pixels any backend can paint.
#pragma once

#include <cstdint>
#include <vector>

namespace tolvane {

/// Rows of 32-bit ARGB pixels (alpha in the high byte, not premultiplied), top to bottom;
/// `argb` holds exactly width × height of them.
struct WindowIcon {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
};

}  // namespace tolvane
