// The palette's window on X11: it takes the keyboard and the pointer without taking the window
// manager's focus, typing reaches its field, and every way its hold ends is reported.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backends/sim/sim_clock.h"
#include "backends/x11/x11_event_tap.h"
#include "backends/x11/x11_input_grab.h"
#include "shell/x11_event_bridge.h"
#include "support/x11/desktop_tools.h"
#include "support/x11/x_session.h"
#include "ui/qt/qt_key_monitor.h"
#include "ui/qt/qt_palette_panel.h"
#include "ui/qt/test_support.h"

namespace tolvane::test {

extern std::unique_ptr<XSession> sharedSession;

namespace {

constexpr int kBoundMs = static_cast<int>(XSession::kBound.count());
constexpr Rect kFrame{100, 100, 600, 420};

xcb_connection_t* qtConnection() {
  return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

/// What another client is told when it grabs the pointer now; a grab it gets is given back.
std::uint8_t otherClientGrabsPointer() {
  xcb_connection_t* c = sharedSession->xcb();
  auto* reply = xcb_grab_pointer_reply(
      c,
      xcb_grab_pointer(c, 0, sharedSession->root(), 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                       XCB_WINDOW_NONE, XCB_CURSOR_NONE, XCB_CURRENT_TIME),
      nullptr);
  const std::uint8_t status = reply ? reply->status : 0xff;
  std::free(reply);
  xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
  sharedSession->sync();
  return status;
}

xcb_window_t inputFocus() {
  xcb_connection_t* c = sharedSession->xcb();
  auto* reply = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
  const xcb_window_t focus = reply ? reply->focus : xcb_window_t{XCB_WINDOW_NONE};
  std::free(reply);
  return focus;
}

/// The palette as the shell builds it: on Qt's connection, with the tap whose release the
/// watchdog uses, and the key monitor translating through the tap's key map.
class PaletteGrabTest : public ::testing::Test {
 protected:
  PaletteGrabTest() {
    qApp->installNativeEventFilter(&bridge);
    grab.setHoldObserver([this](bool held) { tap.setWindowGrabHeld(held); });
    panel.setQueryHandler([this](const std::string& text) { query = text; });
    panel.setResignHandler([this] {
      ++resignations;
      panel.hide();
    });
  }
  ~PaletteGrabTest() override {
    panel.hide();
    qApp->removeNativeEventFilter(&bridge);
  }

  bool eventually(const std::function<bool()>& done) { return QTest::qWaitFor(done, kBoundMs); }
  bool type(std::vector<std::string> args) { return xdotool(*sharedSession, std::move(args)); }

  void open() {
    panel.show(paletteView(12, kFrame));
    ASSERT_TRUE(eventually([&] { return grab.isHeld(); }));
  }

  XSession& session = *sharedSession;
  sim::SimClock clock;
  std::unique_ptr<x11::Connection> connection = x11::Connection::borrow(qtConnection(), 0);
  shell::X11EventBridge bridge{*connection};
  std::vector<std::string> log;
  x11::X11EventTap tap{
      *connection, clock, {}, [this](std::string_view line) { log.emplace_back(line); }};
  x11::X11InputGrab grab{*connection};
  qt::QtPalettePanel panel{&grab, [] { return false; },
                           [this](std::string_view line) { log.emplace_back(line); }};
  std::string query;
  int resignations = 0;
};

TEST_F(PaletteGrabTest, TypingReachesTheFieldWhileTheWindowTheUserCameFromStaysActive) {
  const auto terminal = session.startXterm("came from");
  ASSERT_TRUE(terminal);
  ASSERT_TRUE(eventually([&] { return session.activeWindow() == terminal->windows[0]; }));
  const xcb_window_t focusBefore = inputFocus();

  std::vector<KeyEvent> monitored;
  qt::QtKeyMonitor monitor([this](std::uint32_t keycode, std::uint32_t state, std::uint32_t) {
    return KeyEvent{KeyEventType::keyDown,
                    tap.keyMap().keyCode(static_cast<xcb_keycode_t>(keycode)),
                    tap.keyMap().flags(static_cast<std::uint16_t>(state))};
  });
  // Swallows X, as the palette's controller swallows its own keys.
  monitor.addKeyDownMonitor([&](const KeyEvent& event) {
    monitored.push_back(event);
    return event.keyCode == 7;
  });

  open();
  EXPECT_EQ(session.activeWindow(), terminal->windows[0]);
  EXPECT_EQ(inputFocus(), focusBefore);
  // Text input follows the window Qt considers active, which the grab alone makes it.
  EXPECT_TRUE(
      eventually([&] { return QGuiApplication::focusWindow() == panel.window()->windowHandle(); }));

  ASSERT_TRUE(type({"type", "--delay", "0", "abx"}));
  ASSERT_TRUE(eventually([&] { return monitored.size() == 3; }));
  EXPECT_EQ(monitored[2].keyCode, 7);  // X, swallowed before the field saw it
  ASSERT_TRUE(type({"key", "shift+c"}));
  EXPECT_TRUE(eventually([&] { return query == "abC"; })) << query;
  EXPECT_EQ(monitored[3].flags, eventflags::kShift);  // the C; the Shift key itself is no key-down

  EXPECT_EQ(session.activeWindow(), terminal->windows[0]);
  EXPECT_EQ(resignations, 0);
  panel.hide();
  EXPECT_FALSE(grab.isHeld());
  EXPECT_TRUE(eventually([&] { return QGuiApplication::focusWindow() == nullptr; }));
  EXPECT_EQ(grabKeyboardStatus(session), XCB_GRAB_STATUS_SUCCESS);
  session.kill(terminal->pid);
}

TEST_F(PaletteGrabTest, TheWatchdogsReleaseLetsGoOfKeyboardAndPointer) {
  open();
  EXPECT_NE(grabKeyboardStatus(session), XCB_GRAB_STATUS_SUCCESS);
  bool released = false;
  std::thread watchdog([&] { released = tap.releaseFromAnyThread(); });
  watchdog.join();
  EXPECT_TRUE(released);
  // A round trip on the released connection: the server has handled the ungrabs. Qt's events
  // are not handled meanwhile, as while the main thread stalls.
  std::free(
      xcb_get_input_focus_reply(qtConnection(), xcb_get_input_focus(qtConnection()), nullptr));
  // Both devices are free.
  EXPECT_EQ(grabKeyboardStatus(session), XCB_GRAB_STATUS_SUCCESS);
  EXPECT_EQ(otherClientGrabsPointer(), XCB_GRAB_STATUS_SUCCESS);
  EXPECT_TRUE(eventually([&] { return resignations == 1; }));
  EXPECT_FALSE(grab.isHeld());
}

TEST_F(PaletteGrabTest, AKeyboardHeldByAnotherProgramClosesThePaletteWithOneLine) {
  ASSERT_EQ(grabKeyboardStatus(session, true), XCB_GRAB_STATUS_SUCCESS);
  panel.show(paletteView(12, kFrame));
  EXPECT_TRUE(eventually([&] { return resignations == 1; }));
  EXPECT_FALSE(grab.isHeld());
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find("another program holds the keyboard") !=
                                   std::string::npos;
                          }),
            1);
  xcb_ungrab_keyboard(session.xcb(), XCB_CURRENT_TIME);
  session.sync();
}

}  // namespace
}  // namespace tolvane::test
