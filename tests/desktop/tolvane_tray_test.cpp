// The real `tolvane`'s tray icon docked in an XEmbed tray (trayer) on a real display: painted in
// the host's colour, its menu of recent windows opened by clicks through XTEST, and the pause
// entry that lets go of Super-Tab.
#include <signal.h>
#include <sys/wait.h>

#include "backends/x11/x11_connection.h"
#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"
#include "desktop/support/pipe_reader.h"
#include "desktop/support/tolvane_desktop.h"

namespace tolvane::test {
namespace {

using x11::Reply;

// A tray host (trayer) runs before Tolvane starts, so Tolvane's icon docks into it (XEmbed).
class TolvaneInATray : public TolvaneDesktopTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(TolvaneDesktopTest::SetUp());
    x.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
             "24", "--SetDockType", "true"});
    // The host announces itself by owning the tray selection (and a MANAGER message on the
    // root, which wakes the wait).
    ASSERT_TRUE(x.waitUntil([&] { return trayOwner() != XCB_WINDOW_NONE; }));
    // The foreground the host asks icons to use (then error, warning and success colours).
    x.setValues(trayOwner(), "_NET_SYSTEM_TRAY_COLORS", "CARDINAL",
                {0x0000, 0xA0A0, 0x5050, 0xFFFF, 0, 0, 0xFFFF, 0xFFFF, 0, 0, 0xFFFF, 0});
  }
  static constexpr std::uint8_t kForeground[] = {0, 0xA0, 0x50};
  xcb_window_t trayOwner() {
    const Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        x.xcb(), xcb_get_selection_owner(x.xcb(), x.atom("_NET_SYSTEM_TRAY_S0")), nullptr));
    return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
  }
  /// Tolvane's window below `window` that is not a top-level one: its docked tray icon.
  xcb_window_t dockedIcon(xcb_window_t window, bool topLevel = true) {
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x.xcb(), xcb_query_tree(x.xcb(), window), nullptr));
    if (!tree) return XCB_WINDOW_NONE;
    xcb_window_t found = XCB_WINDOW_NONE;
    const auto* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()) && !found; ++i) {
      const auto pid = x.value(children[i], "_NET_WM_PID");
      if (!topLevel && pid && *pid == static_cast<std::uint32_t>(tolvane->pid())) {
        found = children[i];
      } else {
        found = dockedIcon(children[i], false);
      }
    }
    return found;
  }
  /// Waits until the icon is docked and shown, and answers where it is on the screen.
  std::optional<xcb_get_geometry_reply_t> iconArea() {
    xcb_window_t icon = XCB_WINDOW_NONE;
    // Docking reparents the icon away from the root, which the root's watch sees.
    if (!x.waitUntil([&] { return (icon = dockedIcon(x.root())) != XCB_WINDOW_NONE; },
                     {tolvane->pump()})) {
      return std::nullopt;
    }
    x.watch(icon);
    const auto viewable = [&] {
      const Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
          x.xcb(), xcb_get_window_attributes(x.xcb(), icon), nullptr));
      return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    };
    if (!x.waitUntil(viewable, {tolvane->pump()})) return std::nullopt;
    const Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(x.xcb(), xcb_get_geometry(x.xcb(), icon), nullptr));
    const Reply<xcb_translate_coordinates_reply_t> place(xcb_translate_coordinates_reply(
        x.xcb(), xcb_translate_coordinates(x.xcb(), icon, x.root(), 0, 0), nullptr));
    if (!geometry || !place) return std::nullopt;
    xcb_get_geometry_reply_t area = *geometry;
    area.x = place->dst_x;
    area.y = place->dst_y;
    return area;
  }
  /// Opens the menu with `click` (xdotool's words) on the icon and waits until it holds the
  /// keyboard; the recent windows it lists, as Tolvane logged them.
  std::string openMenu(const xcb_get_geometry_reply_t& icon, std::vector<std::string> click) {
    const std::string listed = "tray: menu lists recent windows ";
    const int before = tolvane->count(listed);
    click.insert(click.begin(), {"mousemove", std::to_string(icon.x + icon.width / 2),
                                 std::to_string(icon.y + icon.height / 2)});
    EXPECT_TRUE(xdotool(x, click));
    EXPECT_TRUE(waitForLog(listed, before + 1)) << tolvane->log();
    // Qt maps the menu and grabs the keyboard in one go: probing the grab only once the menu
    // is mapped keeps the probe from taking the keyboard before the menu asks for it.
    EXPECT_TRUE(waitForPanel(true));
    EXPECT_TRUE(pollUntil([&] { return keyboardTaken(); })) << "the menu never took the keys";
    const auto& log = tolvane->log();
    const auto at = log.rfind(listed) + listed.size();
    return log.substr(at, log.find('\n', at) - at);
  }
  /// Chooses the pause entry: below "Search Windows…" and the five recent windows.
  void choosePauseEntry() { type("key Down Down Down Down Down Down Down Return"); }
};

TEST_F(TolvaneInATray, TheMenuListsTheFiveRecentTerminalsAndPausesAndResumesSwitching) {
  std::vector<xcb_window_t> terms;
  for (const char* title : {"one", "two", "three", "four", "five", "six"}) {
    const auto term = x.startXterm(title);
    ASSERT_TRUE(term);
    terms.push_back(term->windows[0]);
  }
  launch();
  for (xcb_window_t term : terms) activate(term);  // "six" is the most recent
  const auto icon = iconArea();
  ASSERT_TRUE(icon) << tolvane->log();
  EXPECT_TRUE(pollUntil([&] {
    return showsColour(x.xcb(), x.root(), *icon, kForeground[0], kForeground[1], kForeground[2]);
  })) << "the icon is not drawn in the tray's foreground colour";

  std::string recent;
  for (auto term = terms.rbegin(); term != terms.rbegin() + 5; ++term) {
    recent += (recent.empty() ? "" : ",") + std::to_string(*term);
  }
  EXPECT_EQ(openMenu(*icon, {"click", "3"}), recent);
  saveScreenshot(x, "desktop-tray-menu.png");
  choosePauseEntry();
  ASSERT_TRUE(waitForLog("tray: switching paused")) << tolvane->log();
  ASSERT_TRUE(pollUntil([&] { return superTabIsFree(); })) << "paused, yet Super-Tab is held";
  type("keydown super key Tab keyup super");
  ASSERT_TRUE(x.syncWindowManager(nullptr, {tolvane->pump()}));
  EXPECT_EQ(x.activeWindow(), terms[5]);
  EXPECT_EQ(tolvane->count("activate pid="), 0) << tolvane->log();

  // A Control-click opens the menu too. (Another secondary click this soon after the first
  // would count as a double click, which Qt's tray icon takes for nothing.)
  openMenu(*icon, {"keydown", "ctrl", "click", "1", "keyup", "ctrl"});
  choosePauseEntry();  // now "Resume Window Switching", in the same place
  ASSERT_TRUE(waitForLog("tray: switching resumed")) << tolvane->log();
  ASSERT_TRUE(pollUntil([&] { return !superTabIsFree(); })) << tolvane->log();
  type("keydown super key Tab keyup super");
  EXPECT_TRUE(waitForActive(terms[4])) << tolvane->log();
}

TEST_F(TolvaneInATray, SettingsOpenFromTheMenuAndByURLAsOneWindowThatComesForward) {
  const auto other = x.startXterm("other");
  ASSERT_TRUE(other);
  launch();
  const auto icon = iconArea();
  ASSERT_TRUE(icon) << tolvane->log();
  openMenu(*icon, {"click", "3"});
  type("key Up Up Up Up Return");  // "Settings…", above the guide, "About" and "Quit"
  ASSERT_TRUE(waitForLog("settings shown: visible=true")) << tolvane->log();
  std::vector<xcb_window_t> shown;
  const auto oneSettingsWindow = [&] {
    shown = windowsTitled(x, tolvane->pid(), "Tolvane Settings");
    return shown.size() == 1;
  };
  ASSERT_TRUE(x.waitUntil(oneSettingsWindow, {tolvane->pump()})) << tolvane->log();
  const xcb_window_t settings = shown[0];
  EXPECT_TRUE(waitForActive(settings)) << tolvane->log();

  // Another window in front, as a pager puts it there. (Tolvane notes no focus change back to a
  // window that was active before its own.)
  x.sendRootMessage(other->windows[0], "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
  ASSERT_TRUE(waitForActive(other->windows[0]));
  ASSERT_EQ(tolvane->sendURL("tolvane://settings"), 0);
  ASSERT_TRUE(waitForLog("settings shown: visible=true", 2)) << tolvane->log();
  EXPECT_TRUE(waitForActive(settings)) << "the open window comes forward\n" << tolvane->log();
  EXPECT_TRUE(oneSettingsWindow());
}

// Paused, Tolvane holds no key of its own: only the open menu's grab can be what is let go of,
// by the watchdog for a stalled Tolvane and by the sentinel for a stopped one.
class TrayMenuKeepsNoKeyboard : public TolvaneInATray {
 protected:
  void configureDisplay() override { writePreferences(R"({"switcherPaused": true})"); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(TolvaneInATray::SetUp());
    const auto typingClient = startTypingRecorder(x, typed, "recorder");
    ASSERT_TRUE(typingClient);
    launch();
    activate(typingClient->windows[0]);
    const auto icon = iconArea();
    ASSERT_TRUE(icon) << tolvane->log();
    openMenu(*icon, {"click", "3"});
  }
  bool waitForTyped(const std::string& text) {
    return x.waitUntil([&] { return typed.text().find(text) != std::string::npos; },
                       {typed.pump(), tolvane->pump()});
  }
  PipeReader typed;
};

TEST_F(TrayMenuKeepsNoKeyboard, AStallWithTheMenuOpenLetsTypingThroughAndTheMenuCloses) {
  ASSERT_EQ(tolvane->sendURL("tolvane://test-stall?seconds=3"), 0);
  ASSERT_TRUE(waitForLog("test hook: the main thread stalls")) << tolvane->log();
  ASSERT_TRUE(waitForLog("keyboard released")) << tolvane->log();
  type("key a b c");
  ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
  EXPECT_EQ(tolvane->count("test hook: the main thread runs again"), 0)
      << "the text must arrive while the main thread is still blocked";
  ASSERT_TRUE(waitForLog("test hook: the main thread runs again")) << tolvane->log();
  EXPECT_TRUE(waitForPanel(false)) << tolvane->log();
  EXPECT_FALSE(keyboardTaken());
}

TEST_F(TrayMenuKeepsNoKeyboard, StoppedWithTheMenuOpenItLetsGoOfTheDisplay) {
  tolvane->signal(SIGSTOP);
  // Only a closed connection takes the windows of a stopped client away.
  ASSERT_TRUE(waitForPanel(false)) << tolvane->log();
  type("key a b c");
  ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
  tolvane->signal(SIGCONT);
  const int status = waitForExit();
  EXPECT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << tolvane->log();
  EXPECT_EQ(tolvane->count("tolvane: Tolvane was stopped while it held the keyboard"), 1)
      << tolvane->log();
}

}  // namespace
}  // namespace tolvane::test
