// The tray item on Qt: the menu built from its entries as it opens, whose actions reach the
// controller.
#include "ui/qt/qt_status_item.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

#include "platform/event_tap.h"

namespace tolvane {
namespace {

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
