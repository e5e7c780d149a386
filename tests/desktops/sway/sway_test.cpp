// The real `tolvane` on a private headless sway, as scenarios: the windows each starts with,
// then steps (keys typed with wtype, the window expected focused, the log line awaited) that one
// driver runs in order. Switching by history, within one application, across workspaces and
// outputs, the HUD, the palette, and the guards that Tolvane never keeps the user's keyboard
// nor leaves its bindings behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "desktops/driver/compositor_suite.h"
#include "desktops/sway/support/status_notifier_watcher.h"
#include "desktops/sway/support/sway_session.h"

namespace tolvane::test {
namespace {

using namespace rows;

using Scenario = CompositorScenario<>;

class SwayDesktop : public CompositorTest<> {
 protected:
  SwayDesktop() : CompositorTest(sway, {kBindings}) {
    extra = [this] {
      std::vector<Source> more{said.source()};
      if (tray) more.push_back(tray->source());
      return more;
    };
    addActions();
    addChecks();
    addTray();
  }

  void SetUp() override {
    if (std::system("for p in sway foot wtype; do command -v $p > /dev/null || exit 1; done")) {
      GTEST_SKIP() << "sway, foot or wtype is not installed";
    }
    ASSERT_TRUE(sway.start()) << sway.error();
    openWindows(GetParam().windows);
  }

  static inline const std::string kBindings = "wayland: bindings installed: ";

  SwaySession sway;
  /// What the front door said on standard error, every run of it.
  PipeText said;
  /// The bar's tray, from a "trayHost" step on.
  std::unique_ptr<StatusNotifierWatcher> tray;

 private:
  void addActions();
  void addChecks();
  void addTray();
};

// What the user, the desktop and the session do.
void SwayDesktop::addActions() {
  // "app flags...": the test client's one toplevel, titled as its app_id. sway 1.7 ignores a
  // toplevel's request to be minimized, so even with --minimized it maps and takes the focus.
  verbs["open"] = [this](const Step& s) {
    auto args = words(s.arg);
    ASSERT_FALSE(args.empty());
    const std::string app = args.front();
    args.erase(args.begin());
    std::vector<std::string> argv{TOLVANE_WAYLAND_TEST_CLIENT, "--app-id", app, "--title", app};
    argv.insert(argv.end(), args.begin(), args.end());
    ASSERT_TRUE(sway.openClient(argv, app + ":" + app)) << sway.focused();
  };
  // No keyboard stays: each "keys" or "hold" brings one that goes when its wtype ends.
  verbs["lone"] = [this](const Step&) { ASSERT_TRUE(sway.dropKeptKeyboard(sources())); };
  verbs["sway"] = [this](const Step& s) { ASSERT_TRUE(sway.msg({s.arg})) << s.arg; };
  // The front door run as a compositor binding or a terminal would, with Tolvane's environment.
  verbs["front"] = [this](const Step& s) {
    ASSERT_NE(tolvane->runAgain(words(s.arg), said.writeEnd()), -1);
  };
}

// What holds now or once the session has answered.
void SwayDesktop::addChecks() {
  // Sway ran n bindings whose command says the text, once it has handled all keys typed.
  verbs["bindings"] = [this](const Step& s) {
    ASSERT_TRUE(sway.sync(sources()));
    EXPECT_EQ(sway.bindingsRun(s.arg), s.n);
  };
  verbs["said"] = [this](const Step& s) {
    EXPECT_TRUE(waitFor([&] { return said.count(s.arg) > 0; })) << said.text();
  };
  // Tolvane's log file holds the text (the front door writes there too).
  verbs["logFile"] = [this](const Step& s) {
    std::stringstream text;
    text << std::ifstream(folder.path() + "/home/XDG_DATA_HOME/com.brenmoor.tolvane/tester.log")
                .rdbuf();
    EXPECT_NE(text.str().find(s.arg), std::string::npos) << text.str();
  };
}

// A bar's tray on the session bus, as waybar keeps one: the watcher with its host, and the
// host's calls to the item Tolvane registers there.
void SwayDesktop::addTray() {
  // Before "launch": Qt asks once, as the application starts, whether a host runs.
  verbs["trayHost"] = [this](const Step&) {
    tray = std::make_unique<StatusNotifierWatcher>();
    ASSERT_EQ(tray->error(), "");
  };
  const auto item = [this] {
    EXPECT_TRUE(tray && waitFor([&] { return !tray->items().empty(); })) << describe();
    return tray && !tray->items().empty() ? tray->items().front() : StatusNotifierWatcher::Item{};
  };
  // "a|b|c": the labels of the item's menu, as the host opens it, hold these in this order.
  verbs["trayMenu"] = [this, item](const Step& s) {
    ASSERT_TRUE(tray) << "no trayHost step";
    const auto labels = tray->menuLabels(item(), sources());
    ASSERT_TRUE(labels) << tray->error() << "\n" << describe();
    std::string all;
    for (const auto& label : *labels) all += "[" + label + "]";
    auto next = labels->begin();
    std::istringstream wanted(s.arg);
    for (std::string label; std::getline(wanted, label, '|');) {
      next = std::find(next, labels->end(), label);
      ASSERT_TRUE(next != labels->end()) << label << " missing in order from " << all;
    }
  };
  verbs["trayQuit"] = [this](const Step&) { tray.reset(); };
  verbs["trayStall"] = [this](const Step&) {
    ASSERT_TRUE(tray) << "no trayHost step";
    tray->stall();
  };
  verbs["trayClick"] = [this, item](const Step&) {
    ASSERT_TRUE(tray) << "no trayHost step";
    EXPECT_TRUE(tray->activate(item(), sources())) << tray->error();
  };
}

TEST_P(SwayDesktop, Runs) {
  verbs.run(GetParam().steps);
}

// --- Pieces several scenarios share -------------------------------------------------------

// wtype's words: a real Super press sets the modifier and presses the key.
const std::string kSuperDown = "-M logo -P Super_L", kSuperUp = "-p Super_L -m logo";
const std::string kTap = "keys " + kSuperDown + " -k Tab " + kSuperUp;
const std::string kLost = "tolvane: the Wayland compositor went away";

// --- The scenarios --------------------------------------------------------------------------

std::vector<Scenario> all() {
  const std::vector<std::string> three{"one", "two", "three"};
  return {
      // Quick taps follow the history; Tab Tab reaches the third.
      {"TolvaneOnSway_AQuickTapSwitchesToThePreviousWindowAndTabTabToTheThird", three,
       history({"three", "one", "two"}) + Steps{kTap, "focused one", "log " + kActivated,
                                                "keys " + kSuperDown + " -k Tab -k Tab " + kSuperUp,
                                                "focused three"}},
      // sway 1.7 ignores a toplevel's request to be minimized and never reports one minimized:
      // the window that asked stays listed, in its place, even with minimized windows left out.
      {"TolvaneOnSway_AWindowThatAskedToBeMinimizedIsStillSwitchedTo",
       {"one", "two", "three"},
       Steps{"open low --minimized", R"(launch "showMinimizedWindows": false)", "focus one",
             "focus low", "focus two", "focus three",
             "keys " + kSuperDown + " -k Tab -k Tab " + kSuperUp, "focused low"}},
      // Held, the HUD shows over the windows; let go, the switch happens.
      {"TolvaneOnSway_AHeldSessionShowsTheHud", three,
       history({"one", "two", "three"}) +
           Steps{"screenshot sway-before-hud", hold(kSuperDown, kSuperUp, 4000), "log " + kHud,
                 "screenshot sway-hud", "differs sway-before-hud sway-hud", "focused two"}},
      // The key above Tab goes to the application's other window, past "one" and "two".
      {"TolvaneOnSway_ShiftGoesBackwardsAndTheKeyAboveTabStaysInOneApplication",
       {"term:a", "one", "two", "term:b"},
       history({"term:a", "one", "two", "term:b"}) +
           Steps{
               "keys " + kSuperDown + " -M shift -P Shift_L -k Tab -p Shift_L -m shift " + kSuperUp,
               "focused term:a", "focus term:b", "keys " + kSuperDown + " -k grave " + kSuperUp,
               "focused term:a"}},
      // Row 1 is the focused window: 3 is two windows back. Had Escape then activated "three",
      // the quick tap after it would not go to "four".
      {"TolvaneOnSway_ADigitPicksARowAndEscapeCancels",
       {"one", "two", "three", "four"},
       history({"one", "two", "three", "four"}) +
           // A key typed within milliseconds of the Tab could beat the session's surface to the
           // keyboard; a person's takes longer (here and for Escape).
           Steps{"keys " + kSuperDown + " -k Tab -s 300 -k 3 " + kSuperUp, "focused two",
                 "keys " + kSuperDown + " -k Tab -k Tab -s 300 -k Escape " + kSuperUp, "stays two",
                 "count:1 " + kActivated, kTap, "focused four"}},
      {"TolvaneOnSway_ThePaletteActivatesAWindowByPartOfItsTitle",
       {"alpha", "notes", "build"},
       history({"notes", "alpha", "build"}) + Steps{"keys -M alt -P Alt_L -k space -p Alt_L -m alt",
                                                    "log " + kPalette, "keys not -k Return",
                                                    "focused notes"}},
      // "one" closes while the session selects "two": the switch still lands on it.
      {"TolvaneOnSway_AWindowClosingMidSessionLeavesTheSwitchWhole", three,
       history({"one", "two", "three"}) + Steps{hold(kSuperDown, kSuperUp, 4000), "log " + kHud,
                                                "close one", "log " + kActivated, "focused two"}},
      // Keys from keyboards that go when their program ends, as each wtype's does: the session
      // ends as its release would, and the chosen window has the keyboard afterwards.
      {"TolvaneOnSwayKeyboardGoes_TapsAndAHeldSessionEachFromANewKeyboardSwitchAndTypingFollows",
       {"other", "typing"},
       history({"typing", "other"}) + Steps{"lone", kTap, "focused typing", kTap, "focused other",
                                            kTap, "focused typing", "keys -s 300 abc", "typed abc",
                                            kTap, "focused other", hold(kSuperDown, kSuperUp, 1500),
                                            "log " + kHud, "focused typing", "keys -s 300 def",
                                            "typed def", "count:0 ok=false"}},
      {"TolvaneOnSway_SwitchesToAWindowOnAnotherWorkspaceOrOutput",
       {"one", "two"},
       Steps{"sway create_output"} + history({"one"}) +
           Steps{"sway [app_id=one] move container to workspace 2", "focus two", kTap,
                 "focused one", "sway [app_id=one] move container to output HEADLESS-2",
                 "focus two", kTap, "focused one"}},
      // Continued after that, it has lost its compositor connection to the sentinel: it says
      // why once, switches nothing late and leaves no binding behind.
      {"TolvaneOnSwayKeepsNoKeyboard_ContinuedAfterAStopItSaysWhyAndSwitchesNothing",
       {"other", "typing"},
       history({"other", "typing"}) + Steps{hold(kSuperDown, kSuperUp, 3000), "log " + kHud, "stop",
                                            "keys -s 900 abc", "typed abc", "cont", "exit:1",
                                            "count:1 tolvane: Tolvane was stopped while it held",
                                            "count:0 " + kActivated, kTap, "bindings:1 nop tolvane",
                                            "stays typing"}},
      // Bindings too go while it is stalled, so Super-Tab reaches the terminal; back, it binds
      // them again and switches nothing late.
      {"TolvaneOnSwayKeepsNoKeyboard_AStallLetsTheKeyboardAndTheBindingsGo",
       {"other", "typing"},
       history({"other", "typing"}) +
           Steps{hold(kSuperDown, kSuperUp, 8000), "log " + kHud, "stall", "log keyboard released",
                 "keys abc", "typed abc", kTap, "bindings:1 nop tolvane next", "release",
                 "log:2 wayland: bindings installed", "count:0 " + kActivated, "stays typing", kTap,
                 "focused other"}},
      // Stopped while the HUD holds the keyboard: within a second typing reaches the terminal,
      // and the next trigger press through the front door ends it and says why.
      {"TolvaneOnSwayKeepsNoKeyboard_StoppedMidSessionTypingReachesTheTerminal",
       {"other", "typing"},
       history({"other", "typing"}) + Steps{hold(kSuperDown, kSuperUp, 8000), "log " + kHud, "stop",
                                            "keys -s 900 abc", "typed abc", "front trigger next",
                                            "said was stopped", "killed:9",
                                            "logFile trigger: Tolvane (pid"}},
      {"TolvaneOnSway_SwayGoingAwayEndsTolvaneWithOneLine",
       {"one"},
       {"launch", "endCompositor", "exit:1", "count:1 " + kLost}},
      // Running, Super-Tab runs Tolvane's binding; after a quit nothing does.
      {"TolvaneOnSway_QuitRemovesItsBindings",
       {"one", "two"},
       history({"one", "two"}) + Steps{kTap, "bindings:1 nop tolvane next", "focused one", "quit",
                                       kTap, "bindings:1 nop tolvane", "stays one"}},
  };
}

INSTANTIATE_TEST_SUITE_P(Sway, SwayDesktop, ::testing::ValuesIn(all()),
                         [](const auto& info) { return info.param.name; });

// --- The tray on a bar -----------------------------------------------------------------------

std::vector<Scenario> tray() {
  const std::vector<std::string> windows{"one", "two", "notes:draft_2"};
  return {
      // The host shows the recent windows and the entries as dbusmenu labels say: "__" is a
      // plain underscore, a single one would mark the next letter as the access key; the
      // host adds the shortcut itself. A click toggles the palette.
      {"TolvaneOnSway_TheTrayListsRecentWindowsThroughAWatcher", windows,
       Steps{"trayHost"} + history({"one", "two", "notes"}) +
           Steps{"trayMenu Search Windows…|draft__2|two|one|Pause Window Switching|Settings…|"
                 "Getting Started Guide|Quit Tolvane",
                 "trayClick", "log " + kPalette, "count:0 tray: no tray host"}},
      // The bar quits and starts again: Tolvane says both, and its item is back in the tray.
      {"TolvaneOnSway_TheTrayFollowsTheBarQuittingAndComingBack", windows,
       Steps{"trayHost"} + history({"one", "two"}) +
           Steps{"trayQuit", "log tray: no tray host;", "trayHost",
                 "log tray: a tray host shows the icon again", "trayMenu two|one"}},
      // A bar that hangs keeps its tray, not the switching: past the refresh the held session
      // outlasts, letting go still switches.
      {"TolvaneOnSway_AHungTrayHostLeavesSwitchingAlone", windows,
       Steps{"trayHost"} + history({"one", "two"}) +
           Steps{"trayStall", hold(kSuperDown, kSuperUp, 4000), "log " + kHud, "focused one"}},
      // Without a bar Tolvane says so once, and not again at the refreshes the held session
      // outlasts; a bar started after Tolvane, as both start with the session, still shows the
      // icon.
      {"TolvaneOnSway_TheTraySaysOnceThatNoHostShowsItAndABarStartedAfterShowsTheIcon", windows,
       history({"one", "two"}) + Steps{hold(kSuperDown, kSuperUp, 4000), "log " + kHud,
                                       "focused one", "count:1 tray: no tray host;", "trayHost",
                                       "log tray: a tray host shows the icon again",
                                       "trayMenu one|two"}},
  };
}

INSTANTIATE_TEST_SUITE_P(SwayTray, SwayDesktop, ::testing::ValuesIn(tray()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tolvane::test
