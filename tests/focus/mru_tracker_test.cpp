// The focus tracker on the simulated desktop: seeding, activations, focus changes inside and
// outside the frontmost application, launches and quits.
#include "focus/mru_tracker.h"

#include <gtest/gtest.h>

#include "support/sim_services.h"

namespace tolvane {
namespace {

using Ids = std::vector<std::uint32_t>;

class MRUTrackerTest : public ::testing::Test, protected test::WindowServices {
 protected:
  MRUTrackerTest() {
    desktop.addApp({.pid = 100});
    desktop.addApp({.pid = 200});
    desktop.addWindow({.number = 11, .pid = 100});
    desktop.addWindow({.number = 12, .pid = 100});
    desktop.addWindow({.number = 21, .pid = 200});
  }
  const Ids& history() { return tracker.order().ids(); }
};

TEST_F(MRUTrackerTest, StartSeedsTheHistoryFromOnScreenLayerZeroWindowsFrontToBack) {
  desktop.addWindow({.number = 30, .pid = 200, .layer = 3});  // above normal windows
  desktop.addRawWindowInfo({.number = 40, .layer = std::nullopt});
  desktop.addRawWindowInfo({.number = 21, .layer = 0});  // listed twice: the first place wins
  tracker.start();
  EXPECT_EQ(history(), (Ids{21, 12, 11}));
}

TEST_F(MRUTrackerTest, ActivationPromotesTheKnownWindowAtOnceAndTheFocusedOneLaterButNotOurOwn) {
  desktop.addApp({.pid = desktop.ownPid()});
  desktop.addWindow({.number = 99, .pid = desktop.ownPid()});
  tracker.start();
  desktop.setFocusedWindow(100, 11);
  desktop.setFrontmost(100);
  loop.runUntilIdle();
  loop.advance(0.15);
  EXPECT_EQ(history().front(), 11u);
  EXPECT_EQ(tracker.frontmostFocusedWindowID(), 11u);

  desktop.setFrontmost(200);
  desktop.setFocusedWindow(100, 12);  // in the background: remembered, not promoted
  loop.runUntilIdle();
  EXPECT_NE(history().front(), 12u);
  desktop.setFrontmost(100);  // coming back promotes the remembered window at once
  loop.runUntilIdle();
  EXPECT_EQ(history().front(), 12u);

  // Tolvane's own windows are never promoted, and its own notifications are never observed.
  const Ids before = history();
  desktop.setFocusedWindow(desktop.ownPid(), 99);
  desktop.setFrontmost(desktop.ownPid());
  loop.advance(1);
  EXPECT_EQ(history(), before);
  EXPECT_EQ(desktop.registeredNotifications(desktop.ownPid()), 0);
}

TEST_F(MRUTrackerTest, LeavingWithinTheDelayCancelsTheLateQuery) {
  desktop.addWindow({.number = 22, .pid = 200});
  tracker.start();
  tracker.order().bump(11);
  desktop.setFrontmost(200);
  loop.runUntilIdle();
  desktop.setFrontmost(100);
  desktop.setFocusedWindow(200, 22);  // now in the background
  loop.advance(0.15);                 // app 200's late query finds it no longer frontmost
  EXPECT_EQ(history().front(), 11u);
  EXPECT_EQ(tracker.frontmostFocusedWindowID(), std::nullopt);  // 100 never reported a window
}

TEST_F(MRUTrackerTest, LaunchedApplicationsAreObservedAfterASecondAndForgottenOnQuit) {
  tracker.start();
  desktop.launchApp({.pid = 300, .notificationsFail = true});
  loop.advance(1.0);
  EXPECT_EQ(desktop.registeredNotifications(300), 0);
  desktop.addWindow({.number = 31, .pid = 300});
  desktop.setFocusedWindow(300, 31);
  desktop.setFrontmost(300);  // the first activation tries again (and fails again)
  loop.advance(0.15);
  EXPECT_EQ(history().front(), 31u);  // the late query still finds the window

  desktop.launchApp({.pid = 400});
  loop.advance(1.0);
  EXPECT_EQ(desktop.registeredNotifications(400), 1);
  desktop.quitApp(400);
  loop.runUntilIdle();
  EXPECT_EQ(desktop.registeredNotifications(400), 0);
  EXPECT_EQ(history().front(), 31u);  // the history keeps numbers of quit applications

  // A process id used again by a new application must not inherit the old one's window.
  desktop.quitApp(300);
  loop.runUntilIdle();
  desktop.launchApp({.pid = 300});
  desktop.setFrontmost(300);
  EXPECT_EQ(tracker.frontmostFocusedWindowID(), std::nullopt);
}

}  // namespace
}  // namespace tolvane
