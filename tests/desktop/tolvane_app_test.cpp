// The `tolvane` executable on a real X display: switching across desktops and within an
// application, what it says when the desktop lacks a part, and how it ends. xterms and a
// two-window client under openbox, keys typed through XTEST, and what the window manager reports
// as active.
#include <signal.h>
#include <sys/wait.h>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"
#include "desktop/support/tolvane_desktop.h"

namespace tolvane::test {
namespace {

using TolvaneOnX11 = TolvaneDesktopTest;

// Stock openbox, which binds Alt-Space to its window menu, and no tray host: Tolvane switches
// all the same, and says once what it does without.
TEST_F(TolvaneOnX11, SwitchesAcrossDesktopsWithSuperTab) {
  // Three terminals: "one" and "two" on the first desktop, "three" on the second.
  const auto one = x.startXterm("one");
  const auto two = x.startXterm("two");
  const auto three = x.startXterm("three");
  ASSERT_TRUE(one && two && three);
  const auto w1 = one->windows[0], w2 = two->windows[0], w3 = three->windows[0];
  launch();
  // Focus history, most recent first: two, one, three; then "three" moves to the second
  // desktop, as a user would send it there.
  activate(w3);
  activate(w1);
  activate(w2);
  x.sendRootMessage(w3, "_NET_WM_DESKTOP", {1, 2});
  ASSERT_TRUE(x.waitForProperty(w3, "_NET_WM_DESKTOP",
                                [](const auto& v) { return v && !v->empty() && (*v)[0] == 1; },
                                {tolvane->pump()}));
  ASSERT_EQ(x.value(x.root(), "_NET_CURRENT_DESKTOP"), 0u);

  // Tab, Tab, Escape activates nothing: had it activated "three", the history would start with
  // it and the quick Super-Tab that follows would go to "two", not back to "one".
  type("keydown super key Tab key Tab key Escape keyup super");
  type("keydown super key Tab keyup super");
  ASSERT_TRUE(waitForActive(w1)) << tolvane->log();
  // The line comes once the window manager's answer is seen, which may be after the test saw
  // the window become active.
  ASSERT_TRUE(waitForLog("window=" + std::to_string(w1) + " ok=true")) << tolvane->log();
  EXPECT_EQ(tolvane->count("activate pid="), 1);

  // Holding Super past the delay shows the HUD with a row per window (three rows).
  type("keydown super key Tab");
  ASSERT_TRUE(waitForPanel(true));
  const auto hud = panel();
  ASSERT_TRUE(hud);
  EXPECT_EQ(hud->height, 144) << "a panel of three rows";
  // Mapped is not yet painted: the picture is taken once the selected row's accent shows.
  EXPECT_TRUE(pollUntil([&] { return showsColour(x.xcb(), x.root(), *hud, 10, 132, 255); }))
      << "the selected row's accent never showed";
  saveScreenshot(x, "desktop-hud.png");
  // Tab again picks the third window of the history, on the other desktop: the desktop
  // switches with it.
  type("key Tab keyup super");
  ASSERT_TRUE(waitForActive(w3)) << tolvane->log();
  EXPECT_EQ(x.value(x.root(), "_NET_CURRENT_DESKTOP"), 1u);
  EXPECT_TRUE(waitForPanel(false));
  EXPECT_EQ(tolvane->count("tray: no tray host;"), 1) << tolvane->log();
  EXPECT_EQ(tolvane->count("palette hotkey refused keyCode=49 modifiers=2048 reason=Alt+space "
                           "is grabbed by another program, most likely the window manager "
                           "(Openbox)"),
            1);
  EXPECT_EQ(tolvane->count("palette hotkey registered"), 0);
}

#ifdef TOLVANE_TEST_CLIENT
TEST_F(TolvaneOnX11, SuperAndTheKeyAboveTabCycleTheFrontmostApplication) {
  const auto term = x.startXterm("term");
  const auto client = x.startClient({TOLVANE_TEST_CLIENT, "left", "right"}, 2);
  ASSERT_TRUE(term && client);
  launch();
  activate(client->windows[0]);
  activate(term->windows[0]);
  activate(client->windows[1]);
  // The terminal was used in between, but only the client's own windows take part.
  type("keydown super key grave keyup super");
  ASSERT_TRUE(waitForActive(client->windows[0])) << tolvane->log();
}
#endif

class TolvaneWithoutAWindowManager : public TolvaneDesktopTest {
  void configureDisplay() override { withWindowManager = false; }
};

TEST_F(TolvaneWithoutAWindowManager, ItSaysSoOnce) {
  launch();
  EXPECT_EQ(tolvane->count("no EWMH window manager runs on display"), 1) << tolvane->log();
}

TEST_F(TolvaneOnX11, NoKeyStaysGrabbedAfterTheProcessEnds) {
  ASSERT_TRUE(x.startXterm("one"));
  for (int signal : {SIGTERM, SIGKILL}) {
    launch();
    EXPECT_FALSE(superTabIsFree()) << "Tolvane holds Super-Tab while it runs";
    const int status = waitForExit(signal);
    // SIGTERM takes the normal quit path, which ends with status 0.
    EXPECT_TRUE(signal == SIGTERM ? WIFEXITED(status) && WEXITSTATUS(status) == 0
                                  : WIFSIGNALED(status))
        << "status " << status << "\n"
        << tolvane->log();
    x.sync();
    EXPECT_TRUE(superTabIsFree()) << "after signal " << signal;
  }
}

TEST_F(TolvaneOnX11, LosingTheDisplayEndsTolvaneWithAClearMessage) {
  ASSERT_TRUE(x.startXterm("one"));
  launch();
  x.killServer();
  const int status = waitForExit();
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n"
                                 << tolvane->log();
  EXPECT_EQ(tolvane->count("the X display went away"), 1) << tolvane->log();
}

}  // namespace
}  // namespace tolvane::test
