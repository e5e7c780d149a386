// The tray menu of the real `tolvane`, docked in trayer, while its main thread stalls: Qt's grab
// for the open menu is let go of like every other, even with switching paused, and the menu
// closes once Tolvane runs again.
// Every wait ends on an X event or a line of Tolvane's log, bounded; none sleeps.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"
#include "desktop/support/tolvane_process.h"
#include "desktop/support/typing_recorder.h"
#include "desktop/support/x_session.h"
#include "platform/x11/x11_event_tap.h"

namespace tolvane {
namespace {

class TrayMenuKeepsNoKeyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x.start()) << x.error();
    x.watch(x.root());
    x.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
             "24", "--SetDockType", "true"});
    ASSERT_TRUE(x.waitUntil([&] { return trayOwner() != XCB_WINDOW_NONE; }));
    const auto typingClient = recorder.start(x, "recorder");
    ASSERT_TRUE(typingClient);
    typing = typingClient->windows[0];
    // Paused, Tolvane holds no key of its own: only the menu's grab can be what is watched.
    const std::string folder = home.path() + "/XDG_CONFIG_HOME/com.brenmoor.tolvane";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/preferences.json") << R"({"switcherPaused": true})";
    tolvane = std::make_unique<test::TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(), home.path());
    ASSERT_TRUE(waitForLog("window snapshot warmed")) << tolvane->log();
    x.sendRootMessage(typing, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
    ASSERT_TRUE(x.waitUntil([&] { return x.activeWindow() == typing; }, {tolvane->pump()}));
  }

  bool waitForLog(const std::string& text) {
    return x.waitUntil([&] { return tolvane->count(text) >= 1; }, {tolvane->pump()});
  }
  xcb_window_t trayOwner() {
    auto* reply = xcb_get_selection_owner_reply(
        x.xcb(), xcb_get_selection_owner(x.xcb(), x.atom("_NET_SYSTEM_TRAY_S0")), nullptr);
    const xcb_window_t owner = reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    std::free(reply);
    return owner;
  }
  /// Tolvane's window below `window` that is not a top-level one: its docked icon.
  xcb_window_t dockedIcon(xcb_window_t window, bool topLevel = true) {
    auto* tree = xcb_query_tree_reply(x.xcb(), xcb_query_tree(x.xcb(), window), nullptr);
    if (!tree) return XCB_WINDOW_NONE;
    xcb_window_t found = XCB_WINDOW_NONE;
    const auto* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
      const auto pid = x.value(children[i], "_NET_WM_PID");
      const bool ours = pid && *pid == static_cast<std::uint32_t>(tolvane->pid());
      found = !topLevel && ours ? children[i] : dockedIcon(children[i], false);
    }
    std::free(tree);
    return found;
  }
  bool menuShown() { return test::mappedOverlay(x.xcb(), x.root()).has_value(); }
  /// Whether another client holds the keyboard; the probe lets go at once.
  bool keyboardTaken() {
    auto* reply =
        xcb_grab_keyboard_reply(x.xcb(),
                                xcb_grab_keyboard(x.xcb(), 0, x.root(), XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr);
    const bool taken = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
      xcb_ungrab_keyboard(x.xcb(), XCB_CURRENT_TIME);
      x.sync();
    }
    std::free(reply);
    return taken;
  }
  /// For states no event announces (a grab taken): one look per round trip, bounded.
  bool pollUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + test::XSession::kBound;
    while (std::chrono::steady_clock::now() < deadline) {
      tolvane->pump().drain();
      if (done()) return true;
    }
    return false;
  }
  /// Right-clicks the docked icon and waits until the menu is up and holds the keyboard.
  void openMenu() {
    xcb_window_t icon = XCB_WINDOW_NONE;
    ASSERT_TRUE(x.waitUntil([&] { return (icon = dockedIcon(x.root())) != XCB_WINDOW_NONE; },
                            {tolvane->pump()}));
    auto* place = xcb_translate_coordinates_reply(
        x.xcb(), xcb_translate_coordinates(x.xcb(), icon, x.root(), 4, 4), nullptr);
    ASSERT_TRUE(place);
    const auto where = std::make_pair(std::to_string(place->dst_x), std::to_string(place->dst_y));
    std::free(place);
    ASSERT_TRUE(test::xdotool(x, {"mousemove", where.first, where.second, "click", "3"}));
    ASSERT_TRUE(waitForLog("tray: menu lists recent windows")) << tolvane->log();
    ASSERT_TRUE(x.waitUntil([&] { return menuShown(); }, {tolvane->pump()}));
    ASSERT_TRUE(pollUntil([&] { return keyboardTaken(); })) << "the menu never took the keys";
  }

  bool waitForTyped(const std::string& text) {
    return x.waitUntil([&] { return recorder.text().find(text) != std::string::npos; },
                       {recorder.pump(), tolvane->pump()});
  }

  test::XSession x;
  test::TempDir home;
  test::TypingRecorder recorder;
  std::unique_ptr<test::TolvaneProcess> tolvane;
  xcb_window_t typing = XCB_WINDOW_NONE;
};

TEST_F(TrayMenuKeepsNoKeyboard, AStallWithTheMenuOpenLetsTypingThroughAndTheMenuCloses) {
  ASSERT_NO_FATAL_FAILURE(openMenu());
  ASSERT_EQ(tolvane->sendURL("tolvane://test-stall?seconds=3"), 0);
  ASSERT_TRUE(waitForLog("test hook: the main thread stalls")) << tolvane->log();
  ASSERT_TRUE(waitForLog("keyboard released")) << tolvane->log();
  ASSERT_TRUE(test::xdotool(x, {"key", "a", "b", "c"}));
  ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
  EXPECT_EQ(tolvane->count("test hook: the main thread runs again"), 0)
      << "the text must arrive while the main thread is still blocked";
  // Back, Tolvane closes the menu rather than leave it up with no grab to close it.
  ASSERT_TRUE(waitForLog("test hook: the main thread runs again")) << tolvane->log();
  EXPECT_TRUE(x.waitUntil([&] { return !menuShown(); }, {tolvane->pump()})) << tolvane->log();
  EXPECT_FALSE(keyboardTaken());
}

TEST_F(TrayMenuKeepsNoKeyboard, StoppedWithTheMenuOpenItLetsGoOfTheDisplay) {
  ASSERT_NO_FATAL_FAILURE(openMenu());
  tolvane->signal(SIGSTOP);
  // Only a closed connection takes the windows of a stopped client away.
  ASSERT_TRUE(x.waitUntil([&] { return !menuShown(); }, {tolvane->pump()})) << tolvane->log();
  ASSERT_TRUE(test::xdotool(x, {"key", "a", "b", "c"}));
  ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
  tolvane->signal(SIGCONT);
  const int status = tolvane->wait();
  tolvane->pump().drain();
  EXPECT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << tolvane->log();
  EXPECT_EQ(tolvane->count("tolvane: Tolvane was stopped while it held the keyboard"), 1)
      << tolvane->log();
}

// The sentinel is told of a hold for as long as any window of ours holds, whichever closes first.
TEST(TrayMenuHoldTest, ThePaletteAndTheMenuNeverClearEachOthersHold) {
  using Grab = x11::X11EventTap::WindowGrab;
  test::XSession x;
  ASSERT_TRUE(x.start(false)) << x.error();
  auto connection = x11::Connection::open(x.display().c_str());
  ASSERT_TRUE(connection);
  x11::X11EventTap tap(
      *connection, [] { return std::vector<x11::TriggerCombination>{}; }, [](std::string_view) {});
  std::vector<bool> published;
  tap.setHoldPublisher([&](std::uint32_t window) { published.push_back(window != 0); });
  tap.setWindowGrabHeld(true, Grab::trayMenu);
  tap.setWindowGrabHeld(true, Grab::palette);
  tap.setWindowGrabHeld(false, Grab::palette);
  tap.setWindowGrabHeld(false, Grab::trayMenu);
  tap.setWindowGrabHeld(true, Grab::palette);
  tap.setWindowGrabHeld(false, Grab::trayMenu);
  EXPECT_EQ(published, (std::vector<bool>{false, true, true, true, false, true, true}));
  tap.setHoldPublisher({});
}

}  // namespace
}  // namespace tolvane
