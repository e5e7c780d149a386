// Screenshots of the desktop suites as plain RGB values: read from PPM (what grim and convert
// write), and compared where a switcher's panel would show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::test {

/// A screenshot as 8-bit RGB rows.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

/// The share of the pixels of the centre (half the width and the height) that differ.
double centreDifference(const Picture& a, const Picture& b);

/// A binary PPM of at most 16384 pixels a side; nothing when the file is not one.
std::optional<Picture> readPpm(const std::string& path);

}  // namespace tolvane::test
