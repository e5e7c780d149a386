// Switcher sessions end to end on the simulated desktop: keys in, panel and activation out, and
// the system's hotkeys given back on every way out.
#include "input/switcher_engine.h"

#include <gtest/gtest.h>

#include <functional>

#include "model/key_codes.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using namespace keycode;
constexpr auto kCmd = eventflags::kCommand;
constexpr auto kOpt = eventflags::kOption;
constexpr auto kShift = eventflags::kShift;

class SwitcherEngineTest : public ::testing::Test, protected test::SwitcherServices {
 protected:
  SwitcherEngineTest() {
    addEditorAndMail();
    listEditorAndMail();
    random.forced = std::vector<std::uint64_t>(100, 0);  // every session is sampled
  }

  TapVerdict key(std::uint16_t code, std::uint64_t flags = kCmd) {
    return tap.deliver(KeyEventType::keyDown, code, flags);
  }
  void pressTrigger() { tap.modifier(kLeftCommand, true, kCmd); }
  /// Holds the trigger and presses Tab: a session on the second row.
  void startSession() {
    pressTrigger();
    key(kTab);
  }
  void releaseTrigger() { tap.modifier(kLeftCommand, false, 0); }
  std::uint32_t frontOfHistory() { return tracker.order().ids().front(); }
};

// The shown session's course (consumed keys, the panel after its delay, the commit) is traced
// end to end in the scenario tests.
TEST_F(SwitcherEngineTest, AQuickSwitchNeverShowsThePanelAndIsReportedAsASession) {
  ready();
  startSession();
  EXPECT_EQ(tap.deliver(KeyEventType::keyUp, kTab, kCmd), TapVerdict::consume);
  loop.advance(0.05);
  releaseTrigger();
  loop.advance(1);
  EXPECT_EQ(panel.shows, 0);
  EXPECT_EQ(frontOfHistory(), 12u);
  EXPECT_EQ(usage.events.front().name, "session");
  EXPECT_EQ(usage.events.front().properties.at("cancelled"), EventValue(false));

  // From a window the list leaves out (Tolvane's own), the first Tab takes the most recent one.
  desktop.addApp({.pid = 900, .localizedName = "Tolvane", .bundleID = "org.example.tolvane"});
  desktop.setFrontmost(900);
  startSession();
  EXPECT_EQ(engine.selection(), 0);
}

TEST_F(SwitcherEngineTest, KeysWithinASessionMoveRescopeAndCancel) {
  ready();
  pressTrigger();
  key(kTab, kCmd | kShift);  // backwards on the first press: the last entry
  EXPECT_EQ(engine.selection(), 2);
  key(kDown);
  EXPECT_EQ(engine.selection(), 0);  // wraps
  key(kUp);
  EXPECT_EQ(engine.selection(), 2);
  const int calls = desktop.axCalls();
  EXPECT_EQ(key(kDigits[4]), TapVerdict::consume);  // 5 of 3: nothing
  EXPECT_EQ(key(kLeft), TapVerdict::consume);       // one column: a plain move
  EXPECT_EQ(desktop.axCalls(), calls);              // navigation never asks another application
  EXPECT_TRUE(engine.isActive());
  key(kEscape);
  ASSERT_FALSE(usage.events.empty());
  EXPECT_EQ(usage.events.back().properties.at("cancelled"), EventValue(true));

  // Shift joining in the middle of the session reverses Tab.
  startSession();
  EXPECT_EQ(engine.selection(), 1);
  tap.modifier(kLeftShift, true, kCmd | kShift);
  key(kTab, kCmd | kShift);
  EXPECT_EQ(engine.selection(), 0);
  tap.modifier(kLeftShift, false, kCmd);
  releaseTrigger();

  // Held with the right-hand Super alone: the release watchdog reads that key too, and the
  // release itself commits at once.
  tap.modifier(kRightCommand, true, kCmd);
  key(kTab);
  loop.advance(1.0);
  EXPECT_TRUE(engine.isActive());
  tap.modifier(kRightCommand, false, 0);
  EXPECT_EQ(frontOfHistory(), 12u);

  // The key above Tab restarts in place, scoped to the frontmost application; again, it moves.
  resetHistory();
  startSession();
  key(kKeyAboveTab);
  EXPECT_EQ(engine.windows().size(), 2u);
  EXPECT_EQ(engine.selection(), 1);
  key(kKeyAboveTab);
  EXPECT_EQ(engine.selection(), 0);
  releaseTrigger();
  settings.setInterceptAppCycle(false);
  EXPECT_EQ(key(kKeyAboveTab), TapVerdict::pass);
  EXPECT_EQ(hotKeys(), (std::vector<bool>{false, false, true}));  // only its own hotkey back
}

TEST_F(SwitcherEngineTest, ATapDisabledBySystemCancelsAndGivesTheHotkeysBackAtOnce) {
  ready();
  startSession();
  EXPECT_EQ(tap.deliver(KeyEventType::tapDisabledByTimeout, 0, 0), TapVerdict::pass);
  EXPECT_FALSE(engine.isActive());
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_TRUE(tap.isEnabled());
  ASSERT_FALSE(usage.events.empty());
  EXPECT_EQ(usage.events.back().properties.at("reason"), EventValue(std::string("timeout")));

  engine.startPolling();
  loop.advance(SwitcherEngine::kPollSeconds);  // the next poll suppresses again
  EXPECT_EQ(hotKeys(), kAllOff);
  key(kTab);
  tap.disableSilently();
  loop.advance(SwitcherEngine::kPollSeconds);
  EXPECT_FALSE(engine.isActive());
  EXPECT_TRUE(tap.isEnabled());
  EXPECT_EQ(linesStartingWith("event tap re-enabled by poll").size(), 1u);
}

TEST_F(SwitcherEngineTest, AStalledMainThreadLetsTheKeyboardGoAndCancelsTheSession) {
  ready();
  startSession();
  loop.advance(SwitcherEngine::kShowDelaySeconds);
  // The main thread stops: only the watchdog's thread runs, on its own clock.
  for (double stalled : {0.3, 0.4}) stallMainThread(guard.watchdog(), stalled);
  EXPECT_FALSE(tap.isEnabled());
  EXPECT_EQ(linesStartingWith("watchdog:"),
            std::vector<std::string>{"watchdog: main stalled 400 ms — keyboard released"});
  EXPECT_TRUE(engine.isActive());  // the engine belongs to the stalled thread

  loop.runUntilIdle();  // the main thread is back
  EXPECT_FALSE(engine.isActive());
  EXPECT_FALSE(panel.visible);
  EXPECT_TRUE(tap.isEnabled());
  ASSERT_FALSE(usage.events.empty());
  EXPECT_EQ(usage.events.back().name, "tap.disabled");
  EXPECT_EQ(usage.events.back().properties.at("recovered"), EventValue(true));
  releaseTrigger();
  EXPECT_EQ(frontOfHistory(), 11u);  // nothing was activated
}

// A session resumed long after its last key (the process was stopped) is cancelled, not
// committed, whichever of its events comes first.
TEST_F(SwitcherEngineTest, EveryWayASessionEndsGivesTheTapItsKeyboardBack) {
  struct Row {
    const char* what;
    bool panelShown;  // before the end
    bool stopped;     // for 30 s before the end: no timer ran, no key came
    std::function<void()> end;
    std::uint32_t front;  // of the history afterwards; 11 when nothing was activated
  };
  const auto lostRelease = [this](double seconds) {
    return [this, seconds] {
      tap.loseRelease(kLeftCommand);
      loop.advance(seconds);
    };
  };
  const Row rows[] = {
      {"Escape", true, false, [this] { key(kEscape); }, 11},
      {"Return", true, false, [this] { key(kReturn); }, 12},
      {"digit 3", true, false, [this] { key(kDigits[2]); }, 21},
      {"click on the third row", true, false, [this] { EXPECT_TRUE(panel.click(2)); }, 21},
      {"release", true, false, [this] { releaseTrigger(); }, 12},
      {"release lost, seen by the watchdog", true, false,
       lostRelease(SwitcherEngine::kReleaseWatchdogSeconds), 12},
      {"stopped, the release comes first", true, true, [this] { releaseTrigger(); }, 11},
      {"stopped, the release watchdog comes first", true, true, lostRelease(0), 11},
      {"stopped, the delayed show comes first", false, true, [this] { loop.advance(0); }, 11},
  };
  ready();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    resetHistory();
    logLines.clear();
    startSession();
    if (row.panelShown) loop.advance(SwitcherEngine::kShowDelaySeconds);
    if (row.stopped) clock.advance(30);
    const int before = tap.sessionEnds;
    row.end();
    EXPECT_FALSE(engine.isActive());
    EXPECT_FALSE(panel.visible);
    EXPECT_GT(tap.sessionEnds, before);
    EXPECT_EQ(frontOfHistory(), row.front);
    EXPECT_EQ(linesStartingWith("ending switcher session: nothing heard for 30s").size(),
              row.stopped ? 1u : 0u);
    // With the trigger still held, the next key is no longer the switcher's.
    EXPECT_EQ(key(kDown), TapVerdict::pass);
    releaseTrigger();
  }
}

TEST_F(SwitcherEngineTest, TapTroubleIsLoggedOncePerCauseThenHourly) {
  tap.creationFails = true;
  engine.setWarmed();
  engine.startPolling();
  std::vector<std::string> notices;
  log.setNoticeObserver([&](std::string_view line) { notices.emplace_back(line); });
  const auto lines = [this] { return linesStartingWith("event tap"); };
  engine.updateEnabled();
  loop.advance(10 * SwitcherEngine::kPollSeconds);
  EXPECT_EQ(lines(),
            std::vector<std::string>{"event tap creation failed (accessibility not granted?)"});
  tap.failure = "Super+Tab is grabbed by another program";
  loop.advance(SwitcherEngine::kPollSeconds);
  EXPECT_EQ(engine.tapFailure(), tap.failure);
  loop.advance(SwitcherEngine::kFailureRelogSeconds);
  EXPECT_EQ(lines().size(), 3u);
  EXPECT_EQ(lines().back(),
            "event tap creation failed (Super+Tab is grabbed by another program), still");
  EXPECT_EQ(notices.size(), 2u);  // each new cause is worth telling the user once

  tap.creationFails = false;
  loop.advance(SwitcherEngine::kPollSeconds);
  EXPECT_EQ(lines().back(), "event tap installed");
  EXPECT_FALSE(engine.tapFailure());
  // A re-enable that does not take is never reported as done.
  tap.enablingFails = true;
  tap.disableSilently();
  loop.advance(5 * SwitcherEngine::kPollSeconds);
  EXPECT_TRUE(linesStartingWith("event tap re-enabled").empty());
  EXPECT_EQ(lines().back(), "event tap re-enable failed (Super+Tab is grabbed by another program)");
}

TEST_F(SwitcherEngineTest,
       BeforeWarmUpWithoutABindingPausedUntrustedOrInOptionModeNothingIsSuppressed) {
  engine.updateEnabled();  // before warm-up the tap is there, yet every key passes
  EXPECT_TRUE(engine.hasTap());
  pressTrigger();
  EXPECT_EQ(key(kTab), TapVerdict::pass);
  EXPECT_EQ(hotKeys(), kAllOn);
  releaseTrigger();

  ready();
  settings.setInterceptCmdTab(false);
  EXPECT_EQ(hotKeys(), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(key(kTab), TapVerdict::pass);
  settings.setInterceptAppCycle(false);  // both bindings off
  EXPECT_FALSE(engine.hasTap());
  EXPECT_EQ(hotKeys(), kAllOn);
  settings.setInterceptCmdTab(true);
  settings.setInterceptAppCycle(true);
  EXPECT_EQ(hotKeys(), kAllOff);

  settings.setSwitcherPaused(true);
  EXPECT_FALSE(engine.hasTap());
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_EQ(linesStartingWith("removing tap").back(),
            "removing tap: paused=true intercept=true/true ax=true");
  settings.setSwitcherPaused(false);
  desktop.setTrusted(false);
  engine.updateEnabled();
  EXPECT_FALSE(engine.hasTap());
  EXPECT_EQ(hotKeys(), kAllOn);

  // Option mode leaves Super+Tab and every hotkey to the system.
  desktop.setTrusted(true);
  settings.setSwitcherUsesOption(true);
  engine.updateEnabled();
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_EQ(key(kTab, kCmd), TapVerdict::pass);
  tap.modifier(kLeftOption, true, kOpt);
  EXPECT_EQ(key(kTab, kOpt), TapVerdict::consume);
  tap.modifier(kLeftOption, false, 0);
  EXPECT_EQ(frontOfHistory(), 12u);
}

}  // namespace
}  // namespace tolvane
