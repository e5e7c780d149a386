// The switcher HUD: its geometry (density, columns and overflow by window count, the panel size,
// the slot arithmetic behind keyboard moves), its model, the rows it describes, and showing and
// hiding the panel.
#include "hud/switcher_controller.h"

#include <gtest/gtest.h>

#include "backends/sim/sim_switcher_panel.h"
#include "hud/hud_layout.h"
#include "support/sim_services.h"
#include "support/window_list.h"

namespace tolvane {
namespace {

using Slot = SwitcherSlotView;
using Density = HUDLayout::Density;
constexpr Size kScreen{1512, 875};  // the fallback size: 16 normal rows, 3 normal columns

using test::editorWindows;

class SwitcherControllerTest : public ::testing::Test, protected test::SimServices {
 protected:
  SwitcherControllerTest() {
    controller.setRowClickHandler([this](int index) { clicks.push_back(index); });
  }
  void showAll(std::vector<SwitchWindow> list, int selection = 1) {
    const auto n = static_cast<std::int64_t>(list.size());
    controller.show(std::move(list), selection, controller.layout(n));
  }
  const std::vector<Slot>& slots() { return panel.last->slots; }

  sim::SimSwitcherPanel panel;
  sim::SimScreens screens;
  SwitcherController controller{{panel, screens, loop, l10n}};
  std::vector<int> clicks;
};

TEST_F(SwitcherControllerTest, AHiddenPanelStaysHiddenUnlessANewerShowCame) {
  controller.hide();  // before any show: nothing to order out, now or later
  loop.advance(2);
  EXPECT_EQ(panel.hides, 0);

  showAll(editorWindows(3));
  controller.hide();
  showAll(editorWindows(3));  // within 0.25 s: neither re-hide may act
  loop.advance(2);
  EXPECT_TRUE(panel.visible);

  controller.hide();
  controller.hide();  // only the second call's checks can act
  loop.advance(2);
  EXPECT_EQ(panel.hides, 1 + 2 + 2);
}

TEST_F(SwitcherControllerTest, PreparesWhatTheShowWillBringAndDropsItAtAnyHide) {
  const HUDLayout layout = controller.layout(4);
  controller.prepare(editorWindows(4), 1, layout);
  controller.hide();  // a quick tap: the panel never came up, and its preparation goes
  EXPECT_FALSE(panel.prepared);

  controller.prepare(editorWindows(4), 1, layout);
  controller.setSelection(2);  // a Tab within the delay
  ASSERT_TRUE(panel.prepared);
  EXPECT_FALSE(panel.visible);
  const SwitcherPanelView prepared = *panel.prepared;
  showAll(editorWindows(4), 2);
  EXPECT_EQ(*panel.last, prepared);
}

TEST_F(SwitcherControllerTest, PanelIsCentredOnTheVisibleFrameOrKeepsItsFrameWithoutAScreen) {
  showAll(editorWindows(1));
  EXPECT_EQ(panel.last->frame->x, 1512 / 2 - 560 / 2);
  EXPECT_EQ(panel.last->frame->y, 25 + 875 / 2.0 - 60 / 2.0);
  screens.visibleFrame.reset();
  EXPECT_EQ(controller.layout(17), HUDLayout::compute(17, SwitcherController::kFallbackScreen));
  showAll(editorWindows(1));
  EXPECT_FALSE(panel.last->frame);
}

TEST_F(SwitcherControllerTest, RepeatedTitlesAreMarkedOnlyAmongShownCompactRows) {
  auto same = editorWindows(81, "Same");
  // Rows 0 and 1 share a title; the last row (folded into the tile) repeats row 2's.
  same[1] = SwitchWindow({.id = 1, .title = "Same 0", .appName = "Ed"});
  same[80] = SwitchWindow({.id = 80, .title = "Same 2", .appName = "Ed"});
  same.emplace(same.begin() + 3, SwitchWindow::Fields{.id = 9, .appName = "Ed"});
  same.emplace(same.begin() + 4, SwitchWindow::Fields{.id = 10, .appName = "Ed"});
  showAll(same);
  EXPECT_EQ(controller.model().duplicateTitles, (std::set<std::string>{"Same 0", "Ed"}));
  EXPECT_EQ(slots()[0].titleSuffix, " — Editor");
  EXPECT_FALSE(slots()[2].titleSuffix);
  EXPECT_EQ(slots()[3].title, "Ed");  // untitled: the application's name

  showAll(editorWindows(3, "Twin"));
  EXPECT_TRUE(controller.model().duplicateTitles.empty());  // normal density: never
}

TEST_F(SwitcherControllerTest, OverflowTileBadgesAndRowTexts) {
  auto list = editorWindows(81);
  list[5] = SwitchWindow({.id = 5, .title = "Min", .appName = "Editor", .isMinimized = true});
  showAll(list, 0);
  ASSERT_EQ(slots().size(), 80u);
  const auto& tile = slots().back();
  EXPECT_EQ(tile.kind, Slot::Kind::overflow);
  EXPECT_EQ(tile.index, 79);
  EXPECT_EQ(tile.overflowText, "+2 more");
  EXPECT_FALSE(panel.click(79));  // the tile takes no click

  // The digits 1 to 9 pick the first rows; the rest of the first column holds their place.
  for (const auto& slot : slots()) {
    const bool digit = slot.index < 9;
    EXPECT_EQ(slot.badge, digit             ? Slot::Badge::number
                          : slot.index < 20 ? Slot::Badge::placeholder
                                            : Slot::Badge::none)
        << slot.index;
    EXPECT_EQ(slot.badgeNumber, digit ? slot.index + 1 : 0) << slot.index;
  }
  EXPECT_TRUE(slots()[5].minimizedMarker);
  EXPECT_FALSE(slots()[5].appName);  // compact rows carry no separate application name
  EXPECT_EQ(slots()[21].frame.x, 10 + 300 + 20);

  EXPECT_TRUE(panel.click(7));
  EXPECT_EQ(clicks, std::vector<int>{7});
}

TEST_F(SwitcherControllerTest, NormalRowsNameTheApplicationAndShowTheWindowsIconExceptForEntries) {
  auto list = editorWindows(2);
  list.push_back(SwitchWindow::appEntry({.pid = 9, .localizedName = "Files"}, nullptr));
  showAll(list, 0);
  EXPECT_EQ(slots()[1].appName, "Editor");
  EXPECT_EQ(slots()[1].iconWindowID, list[1].id());  // a window shows its own icon
  EXPECT_EQ(slots()[2].title, "Files");
  EXPECT_FALSE(slots()[2].appName);
  EXPECT_FALSE(slots()[2].iconWindowID);  // an application entry has no window
  controller.setSelection(2);
  EXPECT_EQ(slots()[2].background, (Paint{SemanticColor::accent, 1}));
  EXPECT_EQ(slots()[0].background, (Paint{SemanticColor::clear, 0}));
}

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
      {16, kScreen, {Density::normal, 1, 16, 540, 16, 0}, {560, 690}},
      // Balanced columns: 9 and 8, not 16 and 1.
      {17, kScreen, {Density::normal, 2, 9, 360, 17, 0}, {760, 396}},
      {48, kScreen, {Density::normal, 3, 16, 360, 48, 0}, {1140, 690}},
      {49, kScreen, {Density::compact, 3, 17, 300, 49, 0}, {960, 596}},
      {80, kScreen, {Density::compact, 4, 20, 300, 80, 0}, {1280, 698}},
      // One slot goes to the overflow tile: at least two windows are folded.
      {81, kScreen, {Density::compact, 4, 20, 300, 79, 2}, {1280, 698}},
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
    EXPECT_EQ(layout.panelSize(), row.panel) << row.count;
  }
}

TEST(HUDLayoutTest, SlotsFillColumnsTallestFirstAndColumnJumpsKeepTheRowWrapAndAvoidTheTile) {
  const HUDLayout seven{Density::normal, 3, 3, 360, 7, 0};  // 7 slots: 3, 2, 2
  struct Column {
    std::int64_t column, rows, first;
  };
  for (const auto& r : {Column{0, 3, 0}, Column{1, 2, 3}, Column{2, 2, 5}, Column{3, 0, 7}}) {
    EXPECT_EQ(seven.rowCount(r.column), r.rows) << r.column;
    EXPECT_EQ(seven.firstIndex(r.column), r.first) << r.column;
    EXPECT_EQ(seven.indices(r.column), std::make_pair(r.first, r.first + r.rows)) << r.column;
  }
  using Pos = std::pair<std::int64_t, std::int64_t>;
  const Pos expected[] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {2, 0}, {2, 1}};
  for (std::int64_t i = 0; i < 7; ++i) EXPECT_EQ(seven.position(i), expected[i]) << i;
  EXPECT_EQ(HUDLayout::compute(0, kScreen).position(3), Pos(0, 0));

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
