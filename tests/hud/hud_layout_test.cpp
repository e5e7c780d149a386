// The switcher's geometry: density, columns and overflow by window count, the panel size, and
// the slot arithmetic behind keyboard moves.
#include "hud/hud_layout.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using Density = HUDLayout::Density;
constexpr Size kScreen{1512, 875};  // the fallback size: 16 normal rows, 3 normal columns

TEST(HUDLayoutTest, ComputeChoosesDensityColumnsAndOverflow) {
  struct Row {
    std::int64_t count;
    Size screen;
    HUDLayout expected;
    Size panel;
  };
  const Row rows[] = {
      {0, kScreen, {Density::normal, 1, 0, 540, 0, 0}, {560, 20}},
      {-3, kScreen, {Density::normal, 1, 0, 540, 0, 0}, {560, 20}},
      {1, kScreen, {Density::normal, 1, 1, 540, 1, 0}, {560, 60}},
      {10, kScreen, {Density::normal, 1, 10, 540, 10, 0}, {560, 438}},
      {16, kScreen, {Density::normal, 1, 16, 540, 16, 0}, {560, 690}},
      // Balanced columns: 9 and 8, not 16 and 1.
      {17, kScreen, {Density::normal, 2, 9, 360, 17, 0}, {760, 396}},
      {48, kScreen, {Density::normal, 3, 16, 360, 48, 0}, {1140, 690}},
      {49, kScreen, {Density::compact, 3, 17, 300, 49, 0}, {960, 596}},
      {80, kScreen, {Density::compact, 4, 20, 300, 80, 0}, {1280, 698}},
      // One slot goes to the overflow tile: at least two windows are folded.
      {81, kScreen, {Density::compact, 4, 20, 300, 79, 2}, {1280, 698}},
      {200, kScreen, {Density::compact, 4, 20, 300, 79, 121}, {1280, 698}},
      // A screen too short for one row still gets one per column.
      {3, {1512, 30}, {Density::normal, 3, 1, 360, 3, 0}, {1140, 60}},
      // Too narrow for a compact column: one 540-wide column with overflow.
      {5, {200, 100}, {Density::compact, 1, 1, 540, 0, 5}, {560, 52}},
      {1, {200, 100}, {Density::normal, 1, 1, 540, 1, 0}, {560, 60}},
  };
  for (const auto& row : rows) {
    const auto layout = HUDLayout::compute(row.count, row.screen);
    EXPECT_EQ(layout, row.expected)
        << row.count << " windows on " << row.screen.width << "x" << row.screen.height;
    EXPECT_EQ(layout.panelSize().width, row.panel.width) << row.count;
    EXPECT_EQ(layout.panelSize().height, row.panel.height) << row.count;
  }
}

TEST(HUDLayoutTest, SlotsFillColumnsTallestFirst) {
  const HUDLayout layout{Density::normal, 3, 3, 360, 7, 0};  // 7 slots: 3, 2, 2
  struct Row {
    std::int64_t column, rows, first;
  };
  for (const auto& r : {Row{0, 3, 0}, Row{1, 2, 3}, Row{2, 2, 5}, Row{3, 0, 7}}) {
    EXPECT_EQ(layout.rowCount(r.column), r.rows) << r.column;
    EXPECT_EQ(layout.firstIndex(r.column), r.first) << r.column;
    EXPECT_EQ(layout.indices(r.column), std::make_pair(r.first, r.first + r.rows)) << r.column;
  }
  using Pos = std::pair<std::int64_t, std::int64_t>;
  const Pos expected[] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {2, 0}, {2, 1}};
  for (std::int64_t i = 0; i < 7; ++i) EXPECT_EQ(layout.position(i), expected[i]) << i;
  EXPECT_EQ(HUDLayout::compute(0, kScreen).position(3), Pos(0, 0));
}

TEST(HUDLayoutTest, ColumnJumpsKeepTheRowWrapAndAvoidTheOverflowTile) {
  const HUDLayout seven{Density::normal, 3, 3, 360, 7, 0};
  const auto overflowing = HUDLayout::compute(81, kScreen);
  const auto single = HUDLayout::compute(5, kScreen);
  struct Row {
    const char* what;
    HUDLayout layout;
    std::int64_t from, delta, to;
  };
  const Row rows[] = {
      {"row clamped to the shorter column", seven, 2, +1, 4},
      {"same row", seven, 1, +1, 4},
      {"wraps right", seven, 5, +1, 0},
      {"wraps left", seven, 0, -1, 5},
      {"would land on the overflow tile", overflowing, 59, +1, 78},
      {"one column: no move", single, 3, +1, 3},
  };
  for (const auto& r : rows) EXPECT_EQ(r.layout.columnJump(r.from, r.delta), r.to) << r.what;
}

}  // namespace
}  // namespace tolvane
