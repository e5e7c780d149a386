// Reading, writing and comparing the suites' screenshots.
#include "desktops/driver/picture.h"

#include <algorithm>
#include <fstream>

namespace tolvane::test {

double centreDifference(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.width < 4 || a.height < 4) return 1;
  int differing = 0, all = 0;
  for (int y = a.height / 4; y < a.height * 3 / 4; ++y) {
    for (int x = a.width / 4; x < a.width * 3 / 4; ++x, ++all) {
      const std::size_t at = (std::size_t(y) * a.width + x) * 3;
      differing += !std::equal(&a.rgb[at], &a.rgb[at + 3], &b.rgb[at]);
    }
  }
  return double(differing) / all;
}

std::optional<Picture> readPpm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, depth = 0;
  in >> magic >> width >> height >> depth;
  in.get();
  if (!in || magic != "P6" || depth != 255 || width <= 0 || height <= 0 || width > 16384 ||
      height > 16384) {
    return std::nullopt;
  }
  Picture picture{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
  in.read(reinterpret_cast<char*>(picture.rgb.data()), std::streamsize(picture.rgb.size()));
  if (!in) return std::nullopt;
  return picture;
}

}  // namespace tolvane::test
