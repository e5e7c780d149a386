// The switcher HUD: its model, the rows it describes, and showing and hiding the panel.
#include "hud/switcher_controller.h"

#include <gtest/gtest.h>

#include "backends/sim/sim_switcher_panel.h"
#include "support/sim_services.h"
#include "support/window_list.h"

namespace tolvane {
namespace {

using Slot = SwitcherSlotView;

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
  auto list = editorWindows(81, "Same");
  std::vector<SwitchWindow> same;
  for (int i = 0; i < 81; ++i) {
    // Rows 0 and 1 share a title; row 80 (folded into the tile) repeats row 2's.
    const std::string title = i == 1 ? "Same 0" : i == 80 ? "Same 2" : list[i].title();
    same.emplace_back(SwitchWindow::Fields{.id = list[i].id(), .title = title, .appName = "Ed"});
  }
  same.emplace(same.begin() + 3, SwitchWindow::Fields{.id = 9, .appName = "Ed"});
  same.emplace(same.begin() + 4, SwitchWindow::Fields{.id = 10, .appName = "Ed"});
  showAll(same);
  EXPECT_EQ(controller.model().duplicateTitles, (std::set<std::string>{"Same 0", "Ed"}));
  EXPECT_EQ(slots()[0].titleSuffix, " — Ed");
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

}  // namespace
}  // namespace tolvane
