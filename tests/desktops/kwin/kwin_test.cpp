// The real `tolvane` on a private virtual KWin, as scenarios: the windows each starts with, then
// steps (keys typed through fake input, the window expected focused, the log line awaited) that
// the one driver runs in order. The session's own rows come first: windows, focus, typing and
// pictures, with KWin's permission checks lifted and on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "desktops/driver/compositor_suite.h"
#include "desktops/kwin/support/kwin_session.h"

namespace tolvane::test {
namespace {

using namespace rows;

/// Whether any client may bind what KWin restricts, or only those it trusts.
enum class Checks { lifted, on };
using Scenario = CompositorScenario<Checks>;

const std::string kBindings = "kwin: shortcuts installed: ";
const std::string kRefused = "is bound in KDE's shortcuts";

class KwinDesktop : public CompositorTest<Checks> {
 protected:
  // A refusal is an answer too: the row that binds a combination first expects one.
  KwinDesktop() : CompositorTest(kwin, {kBindings, kRefused}) { addActions(); }

  void SetUp() override {
    if (std::system("command -v kwin_wayland > /dev/null")) {
      GTEST_SKIP() << "kwin_wayland is not installed";
    }
    // The desktop program the front door starts is the one that asks for KWin's window list.
    const auto program =
        std::filesystem::path(TOLVANE_EXECUTABLE).parent_path() / "tolvane-desktop";
    ASSERT_TRUE(kwin.start(GetParam().setting == Checks::lifted,
                           {{program, "org_kde_plasma_window_management", ""}}))
        << kwin.error();
    openWindows(GetParam().windows);
  }

  KwinSession kwin{TOLVANE_WAYLAND_TEST_CLIENT, TOLVANE_KWIN_FAKE_KEYS};

 private:
  void addActions();
};

// What the user, the desktop and the session do.
void KwinDesktop::addActions() {
  verbs["minimize"] = [this](const Step& s) {
    ASSERT_TRUE(kwin.runOnEach(s.arg, "w.minimized = true;"));
  };
  // "n": n virtual desktops, the last of them current: the windows stay on the first.
  verbs["desktops"] = [this](const Step& s) {
    // KWin 5 counts desktops, KWin 6 lists them.
    ASSERT_TRUE(kwin.runScript("const n = " + std::to_string(s.n) + R"(;
if (typeof workspace.desktops === 'number') {
  workspace.desktops = n;
  workspace.currentDesktop = n;
} else {
  while (workspace.desktops.length < n) workspace.createDesktop(workspace.desktops.length, '');
  workspace.currentDesktop = workspace.desktops[n - 1];
})"));
  };
  verbs["many"] = [this](const Step& s) { ASSERT_TRUE(kwin.openWindows(s.arg, s.n)); };
  // The window goes to a second virtual desktop, made when missing; the current one stays.
  verbs["toDesktop2"] = [this](const Step& s) {
    ASSERT_TRUE(kwin.runScript(
        "if (typeof workspace.desktops === 'number') workspace.desktops = 2;\n"
        "else if (workspace.desktops.length < 2) workspace.createDesktop(1, 'two');\n" +
        onEach(s.arg,
               "if ('desktops' in w) w.desktops = [workspace.desktops[1]]; "
               "else w.desktop = 2;")));
  };
  // Another program's global shortcut on the combination, as a user's own would be.
  verbs["userShortcut"] = [this](const Step& s) {
    ASSERT_TRUE(
        kwin.runScript("registerShortcut('Mine', 'Mine', '" + s.arg + "', function () {});"));
  };
  // "combo window": a script of the user's, kept loaded, whose shortcut focuses the window.
  verbs["userScript"] = [this](const Step& s) {
    const auto parts = words(s.arg);
    ASSERT_EQ(parts.size(), 2u);
    ASSERT_TRUE(kwin.runScript("registerShortcut('Theirs', 'Theirs', '" + parts[0] +
                                   "', function () {\n" +
                                   onEach(parts[1],
                                          "if ('activeWindow' in workspace) "
                                          "workspace.activeWindow = w; else "
                                          "workspace.activeClient = w;") +
                                   "});",
                               true));
  };
  // KWin runs n scripts of that name (0 or 1).
  verbs["script"] = [this](const Step& s) {
    EXPECT_EQ(kwin.scriptLoaded(s.arg), std::optional<bool>(s.n == 1));
  };
}

TEST_P(KwinDesktop, Runs) {
  verbs.run(GetParam().steps);
}

// --- The session itself, without Tolvane ----------------------------------------------------

std::vector<Scenario> session() {
  return {
      // Typed while another window had the focus, "xyz" would sit between the two parts. With
      // the checks lifted, every Tolvane row types and takes pictures too.
      {"KwinSessionChecked_TrustedToolsTypeOnlyIntoTheFocusedWindowAndTakePictures",
       {"one", "typing", "two"},
       {"focus typing", "keys abc", "focus one", "focused one", "keys xyz", "focus typing",
        "keys -M shift d -m shift -k space e!", "typed abcD e!", "screenshot kwin-typing"},
       Checks::on},
      // Minimizing the focused window hands the focus to the one below; a new desktop has none.
      {"KwinSession_ScriptsMinimizeAndSwitchDesktops",
       {"one", "two", "three"},
       {"minimize three", "focused two", "stays two", "close two", "focused one", "desktops:2",
        "focused ", "stays "}},
  };
}

INSTANTIATE_TEST_SUITE_P(KwinSession, KwinDesktop, ::testing::ValuesIn(session()),
                         [](const auto& info) { return info.param.name; });

// --- Tolvane on KWin -------------------------------------------------------------------------

// The key tool's words: a real Meta press sets the modifier and presses the key.
const std::string kMetaDown = "-M logo -P Super_L", kMetaUp = "-p Super_L -m logo";
const std::string kTap = "keys " + kMetaDown + " -k Tab " + kMetaUp;

std::vector<Scenario> tolvane() {
  const std::vector<std::string> three{"one", "two", "three"}, four{"one", "two", "three", "four"};
  return {
      // Quick taps follow the history; Tab Tab reaches the third. The second Tab and the
      // release come as a person's do, after the session's surface has the keyboard: typed
      // within a millisecond, all of them could beat it, and KWin sends its shortcut's call and
      // the surface's keyboard in no fixed order.
      {"TolvaneOnKwin_AQuickTapSwitchesToThePreviousWindowAndTabTabToTheThird", three,
       history({"three", "one", "two"}) +
           Steps{kTap, "focused one", "log " + kActivated,
                 "keys " + kMetaDown + " -k Tab -s 100 -k Tab -s 100 " + kMetaUp, "focused three",
                 "count:0 ok=false"}},
      // With KWin's checks on, the desktop entry's grant is what lends Tolvane the windows.
      {"TolvaneOnKwinChecked_TheDesktopEntrysGrantLendsTheWindows", three,
       history({"three", "one", "two"}) + Steps{kTap, "focused one"}, Checks::on},
      // Held, the HUD shows over the windows; let go, the switch happens.
      {"TolvaneOnKwin_AHeldSessionShowsTheHud", three,
       history({"one", "two", "three"}) +
           Steps{"screenshot kwin-before-hud", hold(kMetaDown, kMetaUp, 4000), "log " + kHud,
                 "screenshot kwin-hud", "differs kwin-before-hud kwin-hud", "focused two"}},
      {"TolvaneOnKwin_ShiftGoesBackwardsAndTheKeyAboveTabStaysInOneApplication",
       {"term:a", "one", "two", "term:b"},
       history({"term:a", "one", "two", "term:b"}) +
           Steps{"keys " + kMetaDown + " -M shift -P Shift_L -k Tab -p Shift_L -m shift " + kMetaUp,
                 "focused term:a", "focus term:b", "keys " + kMetaDown + " -k grave " + kMetaUp,
                 "focused term:a"}},
      // Row 1 is the focused window: 3 is two windows back. Escape then switches nothing.
      {"TolvaneOnKwin_ADigitPicksARowAndEscapeCancels", four,
       history({"one", "two", "three", "four"}) +
           Steps{"keys " + kMetaDown + " -k Tab -s 300 -k 3 " + kMetaUp, "focused two",
                 "keys " + kMetaDown + " -k Tab -k Tab -s 300 -k Escape " + kMetaUp, "stays two",
                 "count:1 " + kActivated}},
      // The window chosen has the keyboard once the palette is gone.
      {"TolvaneOnKwin_ThePaletteActivatesAWindowByPartOfItsTitle",
       {"alpha", "typing", "build"},
       history({"typing", "alpha", "build"}) +
           Steps{"keys -M alt -P Alt_L -k space -p Alt_L -m alt", "log " + kPalette,
                 "keys typ -k Return", "focused typing", "keys -s 300 abc", "typed abc"}},
      // Past a hundred windows KWin's stacking-order event outgrows a Wayland message: a client
      // that binds a version with it is dropped at start.
      {"TolvaneOnKwin_SwitchesAmongHundredsOfWindows",
       {"one"},
       Steps{"many:300 bulk", "launch", "focus one", kTap, "focused bulk", kTap, "focused one"}},
      // KWin does minimize: the window comes back where the history puts it. One moved to
      // another virtual desktop is switched to there.
      {"TolvaneOnKwin_RestoresAMinimizedWindowAndSwitchesToAnotherVirtualDesktop", three,
       history({"one", "two", "three"}) + Steps{"minimize three", "focused two", kTap,
                                                "focused three", "toDesktop2 two", "stays three",
                                                kTap, "focused two"}},
      // "one" closes while the session selects "two": the switch still lands on it.
      {"TolvaneOnKwin_AWindowClosingMidSessionLeavesTheSwitchWhole", three,
       history({"one", "two", "three"}) + Steps{hold(kMetaDown, kMetaUp, 4000), "log " + kHud,
                                                "close one", "log " + kActivated, "focused two"}},
      // Stopped while the HUD holds the keyboard: typing reaches the window below soon after,
      // and continued, Tolvane switches nothing late.
      {"TolvaneOnKwinKeepsNoKeyboard_StoppedMidSessionTypingReachesTheWindow",
       {"other", "typing"},
       history({"other", "typing"}) + Steps{hold(kMetaDown, kMetaUp, 3000), "log " + kHud, "stop",
                                            "keys -s 900 abc", "typed:1500 abc", "cont", "exit:1",
                                            "count:0 " + kActivated, "stays typing"}},
      // A stalled Tolvane lets the keyboard and its script go, so Meta-Tab reaches the window;
      // back, it loads the script again and switches nothing late.
      {"TolvaneOnKwinKeepsNoKeyboard_AStallLetsTheKeyboardAndTheScriptGo",
       {"other", "typing"},
       history({"other", "typing"}) +
           Steps{hold(kMetaDown, kMetaUp, 8000), "log " + kHud, "stall", "log keyboard released",
                 "keys abc", "typed abc", "script:0 tolvane", "release", "log:2 " + kBindings,
                 "count:0 " + kActivated, "stays typing", kTap, "focused other"}},
      {"TolvaneOnKwin_KwinGoingAwayEndsTolvaneWithOneLine",
       {"one"},
       {"launch", "endCompositor", "exit:1", "count:1 tolvane: the Wayland compositor went away"}},
      // Running, Meta-Tab runs Tolvane's script; after a quit the script is gone. Loading and
      // unloading it leaves other scripts' shortcuts working.
      {"TolvaneOnKwin_QuitUnloadsItsScriptAndLeavesAnotherScriptsShortcutWorking",
       {"one", "two"},
       Steps{"userScript Meta+End one"} + history({"one", "two"}) +
           Steps{"script:1 tolvane", kTap, "focused one", "focus two",
                 "keys -M logo -k End -m logo", "focused one", "quit", "script:0 tolvane",
                 "focus two", kTap, "stays two", "keys -M logo -k End -m logo", "focused one"}},
      // A combination another shortcut holds is left to it and said; the palette still works.
      {"TolvaneOnKwin_AShortcutTheUserHasIsLeftAlone",
       {"one", "two"},
       Steps{"userShortcut Meta+Tab"} + history({"one", "two"}) +
           Steps{"log Meta+Tab is bound in KDE's shortcuts (\"Mine\")", kTap, "stays two",
                 "count:0 " + kBindings, "log kwin: palette shortcut installed"}},
  };
}

INSTANTIATE_TEST_SUITE_P(Kwin, KwinDesktop, ::testing::ValuesIn(tolvane()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tolvane::test
