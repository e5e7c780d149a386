// The tray item on Qt: the icon painted from the core's description, and the menu built from its
// entries as it opens, whose actions reach the controller.
#include "ui/qt/qt_status_item.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

#include "menu/menu_bar_icon.h"
#include "platform/event_tap.h"

namespace tolvane {
namespace {

StatusItemView viewOf(MenuBarIconState state, bool badged) {
  StatusItemView view{.state = state,
                      .icon = MenuBarIcon::describe(state, badged),
                      .badged = badged,
                      .tooltip = "Tolvane"};
  if (badged) {
    view.badgeCenter = MenuBarIcon::kBadgeCenter;
    view.badgeDiameter = MenuBarIcon::badgeDiameter(16);
  }
  return view;
}

int redPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      count += c.alpha() > 200 && c.red() > 200 && c.green() < 100 ? 1 : 0;
    }
  }
  return count;
}

TEST(QtStatusIconTest, PaintsTheArrowUnlessPausedAndTheDotInItsHole) {
  const QColor ink(Qt::black);
  // At 32 pixels a unit is two: the arrow's shaft crosses (20, 20); the back window's top edge
  // runs through (19, 4), inside the hole around the dot's centre (26, 6.2) yet outside the dot.
  const QPoint arrow(20, 20), holeRing(19, 4);
  const auto active = qt::renderStatusIcon(viewOf(MenuBarIconState::active, false), 32, ink);
  const auto paused = qt::renderStatusIcon(viewOf(MenuBarIconState::paused, false), 32, ink);
  const auto badged =
      qt::renderStatusIcon(viewOf(MenuBarIconState::permissionWarning, true), 32, ink);
  EXPECT_GT(active.pixelColor(arrow).alpha(), 200);
  EXPECT_EQ(paused.pixelColor(arrow).alpha(), 0);
  EXPECT_GT(active.pixelColor(holeRing).alpha(), 200);
  EXPECT_EQ(badged.pixelColor(holeRing).alpha(), 0);
  EXPECT_EQ(redPixels(active), 0);
  const QColor centre = badged.pixelColor(26, 6);
  EXPECT_TRUE(centre.red() > 200 && centre.green() < 100) << centre.name().toStdString();
}

class QtStatusItemTest : public ::testing::Test {
 protected:
  QtStatusItemTest() {
    item.setMenuWillOpenHandler([this] { item.setMenu(entries); });
  }
  /// Opens the menu as the tray does and answers its actions.
  QList<QAction*> openMenu() {
    Q_EMIT item.menu().aboutToShow();
    return item.menu().actions();
  }

  qt::QtStatusItem item;
  std::vector<MenuEntry> entries;
  std::vector<std::string> calls;
};

TEST_F(QtStatusItemTest, TheMenuIsBuiltAtEachOpeningAndItsActionsRunOnceItHasClosed) {
  entries = {
      {.title = "Search Windows…",
       .keyEquivalent = " ",
       .keyEquivalentFlags = eventflags::kOption,
       .action = [this] { calls.push_back("search"); }},
      {.kind = MenuEntry::Kind::separator},
      {.title = "Tom & Jerry", .iconBundleID = "org.example.editor"},
      {.title = "Secure Input is on", .enabled = false},
      {.title = "Resume Window Switching", .checked = true},
      {.title = "Settings…", .keyEquivalent = ",", .keyEquivalentFlags = eventflags::kCommand}};
  auto actions = openMenu();
  ASSERT_EQ(actions.size(), 6);
  EXPECT_EQ(actions[0]->text(), "Search Windows…\tAlt+Space");
  EXPECT_EQ(actions[5]->text(), "Settings…\tSuper+,") << "as the desktop names the key";
  EXPECT_EQ(actions[0]->shortcut().toString(QKeySequence::PortableText), "Alt+Space");
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2]->text(), "Tom && Jerry");
  EXPECT_FALSE(actions[3]->isEnabled());
  EXPECT_TRUE(actions[4]->isChecked());
  EXPECT_FALSE(actions[0]->isChecked());

  actions[0]->trigger();
  EXPECT_TRUE(calls.empty()) << "the action waits for the menu to close";
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, std::vector<std::string>{"search"});

  entries.pop_back();
  EXPECT_EQ(openMenu().size(), 5) << "rebuilt, not appended";
}

}  // namespace
}  // namespace tolvane
