// Choosing among the sizes of `_NET_WM_ICON`, and refusing what a client got wrong.
#include "backends/x11/x11_window_icons.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvane::x11 {
namespace {

/// A square entry of `side` whose pixels all hold `side` (so the chosen one can be told).
std::vector<std::uint32_t> entry(std::uint32_t side) {
  std::vector<std::uint32_t> values{side, side};
  values.insert(values.end(), std::size_t{side} * side, side);
  return values;
}

std::vector<std::uint32_t> concat(std::initializer_list<std::vector<std::uint32_t>> parts) {
  std::vector<std::uint32_t> values;
  for (const auto& part : parts) values.insert(values.end(), part.begin(), part.end());
  return values;
}

TEST(WindowIconsTest, TheNearestUsableEntryIsChosen) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> values;
    int side;
    int chosen;  // 0: none
  };
  const Case cases[] = {
      // Sizes offered in any order: the smallest that is large enough, else the largest.
      {"exact", concat({entry(16), entry(32), entry(48)}), 32, 32},
      {"next larger", concat({entry(48), entry(16), entry(32)}), 26, 32},
      {"all smaller", concat({entry(8), entry(16)}), 26, 16},
      // Malformed entries end the reading; what came before them stays usable.
      {"zero side", concat({entry(16), {0, 5}}), 26, 16},
      {"oversized", concat({{2048, 1}, entry(16)}), 16, 0},
      {"fewer pixels than claimed", {4, 4, 1, 2, 3}, 4, 0},
      {"truncated after a good one", concat({entry(8), {4, 4, 1}}), 26, 8},
      {"width and height only", {16, 16}, 16, 0},
      {"empty", {}, 16, 0},
  };
  for (const Case& c : cases) {
    const auto icon = nearestIcon(c.values, c.side);
    if (c.chosen == 0) {
      EXPECT_FALSE(icon) << c.what;
      continue;
    }
    ASSERT_TRUE(icon) << c.what;
    EXPECT_EQ(icon->width, c.chosen) << c.what;
    EXPECT_EQ(icon->argb.size(), static_cast<std::size_t>(c.chosen * c.chosen)) << c.what;
    EXPECT_EQ(icon->argb.front(), static_cast<std::uint32_t>(c.chosen)) << c.what;
  }
}

}  // namespace
}  // namespace tolvane::x11
