// The background refresh: which applications each pass refreshes, the workspace notifications,
// and starting and stopping.
#include "windows/background_refresh.h"

#include <gtest/gtest.h>

#include "settings/preference_keys.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

class BackgroundRefreshTest : public ::testing::Test, protected test::WindowServices {
 protected:
  BackgroundRefreshTest() { preferences.set(prefkey::kTesterModeEnabled, true); }
  std::vector<std::string> passes() { return linesStartingWith("refresh pass="); }
  BackgroundRefresh refresher{
      {desktop, desktop, resolver, enumerator, settings, preferences, loop, clock, log}};
};

TEST_F(BackgroundRefreshTest, NotificationsRefreshRegularApplicationsAndQuitsForgetThem) {
  refresher.start();
  refresher.start();  // harmless: one set of observers
  loop.runUntilIdle();
  desktop.launchApp({.pid = 100});
  desktop.addWindow({.number = 11, .pid = 100});
  desktop.launchApp({.pid = 200, .activationPolicy = ActivationPolicy::accessory});
  // Tolvane's own windows (its settings, say) are never switched to.
  desktop.launchApp({.pid = desktop.ownPid()});
  desktop.addWindow({.number = 12, .pid = desktop.ownPid()});
  loop.runUntilIdle();
  EXPECT_TRUE(enumerator.isCached(100));
  EXPECT_FALSE(enumerator.isCached(200));
  EXPECT_FALSE(enumerator.isCached(desktop.ownPid()));
  const int calls = desktop.axCalls();
  desktop.setFrontmost(100);
  loop.runUntilIdle();
  EXPECT_GT(desktop.axCalls(), calls);  // refreshed again on activation

  desktop.quitApp(100);
  loop.runUntilIdle();
  EXPECT_FALSE(enumerator.isCached(100));

  refresher.stop();
  desktop.launchApp({.pid = 300});
  loop.advance(20);
  EXPECT_FALSE(enumerator.isCached(300));
  EXPECT_EQ(passes().size(), 1u);  // the loop ended at its next check
}

TEST_F(BackgroundRefreshTest, PassesRefreshTheFrontmostTheOneJustLeftAndShortfallsOnce) {
  for (Pid pid : {Pid{100}, Pid{200}, Pid{300}}) {
    desktop.addApp({.pid = pid});
    desktop.addWindow({.number = static_cast<std::uint32_t>(pid) + 1, .pid = pid});
  }
  desktop.setCallCost(200, 0.2);  // never finishes within its deadline
  desktop.setFrontmost(100);
  refresher.start();
  loop.advance(0.5);  // pass 1: nothing cached yet
  loop.advance(5.0);  // pass 2: the frontmost, and 200 once more
  desktop.setFrontmost(300);
  loop.advance(5.0);   // pass 3: the new frontmost and the one just left
  loop.advance(16.0);  // passes 4, 5 quiet; 6 full (passes drift by what refreshes cost)
  EXPECT_EQ(passes(), (std::vector<std::string>{
                          "refresh pass=1 full=false apps=3/3 pending=1",
                          "refresh pass=2 full=false apps=2/3 pending=1",
                          "refresh pass=3 full=false apps=2/3 pending=1",
                          "refresh pass=4 full=false apps=1/3 pending=1",
                          "refresh pass=5 full=false apps=1/3 pending=1",
                          "refresh pass=6 full=true apps=3/3 pending=1",
                      }));
}

TEST_F(BackgroundRefreshTest, WithoutTheMapEveryPassIsFullAndWithoutTrustNothingIsRefreshed) {
  desktop.addApp({.pid = 100});
  desktop.available.copyWindowsOnSpaces = false;
  desktop.setTrusted(false);
  refresher.start();
  loop.advance(12);
  EXPECT_TRUE(passes().empty());
  EXPECT_FALSE(enumerator.isCached(100));
  desktop.setTrusted(true);  // resumes by itself
  loop.advance(5);
  EXPECT_EQ(passes(), std::vector<std::string>{"refresh pass=1 full=true apps=1/1 pending=0"});
}

}  // namespace
}  // namespace tolvane
