// Suppressing the system's switcher hotkeys and giving them back: on request, under secure
// input, on a stalled main thread, and at quit.
#include "input/native_switcher_guard.h"

#include <gtest/gtest.h>

#include "support/sim_services.h"

namespace tolvane {
namespace {

using Lines = std::vector<std::string>;
const SymbolicHotKeySet kCmdTab = {SymbolicHotKey::commandTab, SymbolicHotKey::commandShiftTab};
const SymbolicHotKeySet kAll = {SymbolicHotKey::commandTab, SymbolicHotKey::commandShiftTab,
                                SymbolicHotKey::commandKeyAboveTab};

// The engine the services build stays idle: nothing here warms it up or gives it a tap.
class NativeSwitcherGuardTest : public ::testing::Test, protected test::SwitcherServices {
 protected:
  Lines hotKeyLines() { return linesStartingWith("native hotkey "); }
};

TEST_F(NativeSwitcherGuardTest, SuppressesWhatIsRequestedChangesOnlyWhatDiffersAndStopsOnDisarm) {
  guard.setRequested(kCmdTab);
  EXPECT_EQ(hotKeys(), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(hotKeyLines(), (Lines{"native hotkey 1 suppressed", "native hotkey 2 suppressed"}));
  guard.setRequested(kCmdTab);
  EXPECT_EQ(hotKeyLines().size(), 2u);
  guard.setRequested({});
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_EQ(hotKeyLines().back(), "native hotkey 2 restored");

  // Once disarmed (at quit), everything is given back and no request takes it again.
  guard.setRequested(kAll);
  guard.disarm();
  guard.setRequested(kAll);
  EXPECT_EQ(hotKeys(), kAllOn);
}

TEST_F(NativeSwitcherGuardTest,
       WithoutTheSetterNothingIsTouchedAndWithoutTheQueryAllIsSetEachTime) {
  desktop.available.hotKeySetter = false;
  guard.setRequested(kAll);
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_TRUE(logLines.empty());

  desktop.available.hotKeySetter = true;
  desktop.available.hotKeyQuery = false;
  guard.setRequested(kAll);
  guard.setRequested(kAll);
  EXPECT_EQ(hotKeyLines().size(), 6u);
}

TEST_F(NativeSwitcherGuardTest, SecureInputHandsTheHotkeysBackWithinOneBeat) {
  desktop.addApp({.pid = 300, .localizedName = "Passwords"});
  guard.setRequested(kAll);
  desktop.setSecureInput(true, 300);
  loop.advance(NativeSwitcherGuard::kHeartbeatSeconds);
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_TRUE(guard.secureInputBlocking());
  desktop.setSecureInput(false);
  loop.advance(NativeSwitcherGuard::kHeartbeatSeconds);
  loop.advance(1.0);
  EXPECT_EQ(hotKeys(), kAllOff);
  EXPECT_EQ(linesStartingWith("secure input"),
            (Lines{"secure input on (Passwords) — native hotkeys handed back",
                   "secure input off — re-arming native hotkey suppression"}));
  ASSERT_EQ(usage.events.size(), 2u);
  EXPECT_EQ(usage.events[0].properties.at("holderAlive"), EventValue(true));

  desktop.setSecureInput(true, 4242);  // a holder that has quit
  loop.advance(NativeSwitcherGuard::kHeartbeatSeconds);
  EXPECT_EQ(linesStartingWith("secure input on").back(),
            "secure input on (stale pid 4242) — native hotkeys handed back");
  EXPECT_EQ(usage.events.back().properties.at("holderAlive"), EventValue(false));
}

TEST_F(NativeSwitcherGuardTest, AStallActsOnceAndOnlyWhileSuppressing) {
  const auto stallFor = [&](int seconds) { stallMainThread(guard.watchdog(), 1.0, seconds); };
  stallFor(12);  // nothing suppressed: nothing to do
  EXPECT_TRUE(linesStartingWith("watchdog:").empty());

  guard.setRequested(kAll);
  stallFor(5);
  EXPECT_TRUE(linesStartingWith("watchdog:").empty());
  stallFor(13);
  EXPECT_EQ(linesStartingWith("watchdog:"),
            Lines{"watchdog: main stalled 11s — native hotkeys restored"});
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_EQ(usage.events.back().name, "watchdog.stall");
  EXPECT_EQ(usage.events.back().properties.at("seconds"), EventValue(std::int64_t{11}));

  // Once the main thread runs again, the next reconcile suppresses and re-arms.
  guard.setRequested(kAll);
  EXPECT_EQ(hotKeys(), kAllOff);
  stallFor(11);
  EXPECT_EQ(linesStartingWith("watchdog:").size(), 2u);
}

}  // namespace
}  // namespace tolvane
