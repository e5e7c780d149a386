// The real `tolvane` on a private headless GNOME Shell, as scenarios: the windows each starts
// with, then steps (keys typed through Mutter's remote desktop, the window expected focused, the
// log line awaited) that the one driver runs in order. The session's own rows come first:
// windows, focus, GNOME's own switcher and pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "desktops/driver/compositor_suite.h"
#include "desktops/gnome/support/gnome_session.h"

namespace tolvane::test {
namespace {

using namespace rows;

/// How Tolvane's extension is there when the Shell starts.
enum class Extension { enabled, disabled, absent };
using Scenario = CompositorScenario<Extension>;

/// The test client paints its windows this grey.
constexpr std::uint8_t kClientGrey = 0x80;

/// How many of the picture's pixels have the test client's grey.
std::size_t greyPixels(const Picture& picture) {
  std::size_t grey = 0;
  for (std::size_t at = 0; at + 3 <= picture.rgb.size(); at += 3) {
    grey += std::all_of(&picture.rgb[at], &picture.rgb[at + 3],
                        [](std::uint8_t value) { return value == kClientGrey; });
  }
  return grey;
}

const std::string kPaletteBinding = "gnome: palette shortcut installed: ";
const std::string kRefused = "another program holds it in GNOME";
const std::string kUuid = "'tolvane@brenmoor.com'";
const std::vector<std::string> noFolders;

class GnomeDesktop : public CompositorTest<Extension> {
 protected:
  // The palette's binding comes after the switcher's, and also where the switcher has none
  // (the extension absent); a refusal is an answer too.
  GnomeDesktop() : CompositorTest(gnome, {kPaletteBinding, kRefused}) { addActions(); }

  void SetUp() override {
    if (std::system("command -v gnome-shell > /dev/null")) {
      GTEST_SKIP() << "gnome-shell is not installed";
    }
    const std::vector<std::string> ours{
        extensionBuild(TOLVANE_GNOME_EXTENSIONS, "tolvane@brenmoor.com")};
    ASSERT_FALSE(ours.front().empty()) << "gnome-shell --version tells no version";
    const auto extension = GetParam().setting;
    ASSERT_TRUE(gnome.start(extension == Extension::enabled ? ours : noFolders,
                            extension == Extension::disabled ? ours : noFolders))
        << gnome.error();
    openWindows(GetParam().windows);
  }

  GnomeSession gnome{TOLVANE_WAYLAND_TEST_CLIENT, TOLVANE_GNOME_REMOTE_KEYS,
                     TOLVANE_GNOME_TEST_EXTENSIONS};

 private:
  void addActions();
};

// What the user, the desktop and the session do.
void GnomeDesktop::addActions() {
  verbs["minimize"] = [this](const Step& s) {
    ASSERT_TRUE(gnome.runOnEach(s.arg, "w.minimize();"));
  };
  verbs["many"] = [this](const Step& s) { ASSERT_TRUE(gnome.openWindows(s.arg, s.n)); };
  // The window goes to the second workspace (GNOME keeps an empty one last); the first stays.
  verbs["toWorkspace2"] = [this](const Step& s) {
    ASSERT_TRUE(gnome.runOnEach(s.arg, "w.change_workspace_by_index(1, false);"));
  };
  // "extension:0" disables Tolvane's extension as the Extensions application does, ":1"
  // enables it again.
  verbs["extension"] = [this](const Step& s) {
    ASSERT_TRUE(gnome.eval(std::string("Main.extensionManager.") +
                           (s.n ? "enableExtension(" : "disableExtension(") + kUuid + ")"));
  };
  // The Shell's own focus, where a test client's word is not enough: Mutter tells a window
  // moved to another workspace that it is activated while it keeps the focus where it was.
  verbs["shellFocused"] = [this](const Step& s) {
    std::string title;
    const bool seen = waitFor([&] {
      return gnome.eval("global.display.focus_window?.get_title() ?? ''", &title) &&
             title == "\"" + s.arg + "\"";
    });
    EXPECT_TRUE(seen) << "the Shell's focus: " << title;
  };
  // Opens Tolvane's top-bar menu and waits until it lists each of the words.
  verbs["menuLists"] = [this](const Step& s) {
    const std::string menu = "Main.panel.statusArea.tolvane.menu";
    ASSERT_TRUE(gnome.eval(menu + ".open()"));
    std::string labels;
    const bool listed = waitFor([&] {
      if (!gnome.eval(menu + "._getMenuItems().map(i => i.label?.text ?? '').join('|')", &labels))
        return false;
      for (const auto& word : words(s.arg)) {
        if (labels.find(word) == std::string::npos) return false;
      }
      return true;
    });
    EXPECT_TRUE(listed) << "the menu: " << labels;
    gnome.eval(menu + ".close()");
  };
  // What the Shell logs (the extensions' messages among it).
  verbs["shellSays"] = [this](const Step& s) {
    EXPECT_TRUE(waitFor([&] { return gnome.said().find(s.arg) != std::string::npos; }))
        << gnome.said();
  };
  // The screenshot covers the virtual monitor, and the test client's windows show in it over
  // the desktop: at least n whole windows of 32x32, and not the whole screen.
  verbs["shows"] = [this](const Step& s) {
    const auto picture = gnome.screenshot(s.arg);
    ASSERT_TRUE(picture) << gnome.error();
    EXPECT_EQ(picture->width, 1280);
    EXPECT_EQ(picture->height, 800);
    const std::size_t grey = greyPixels(*picture);
    EXPECT_GE(grey, std::size_t(s.n) * 32 * 32);
    EXPECT_LT(grey, picture->rgb.size() / 3 / 2);
  };
}

TEST_P(GnomeDesktop, Runs) {
  verbs.run(GetParam().steps);
}

// --- The session itself, without Tolvane ----------------------------------------------------

std::vector<Scenario> session() {
  return {
      // Minimizing the focused window hands the focus to the one below, as closing does.
      {"GnomeSession_ThePagersVerbsMoveTheFocus",
       {"one", "two", "three"},
       {"minimize three", "focused two", "focus one", "focused one", "close one", "focused two",
        "stays two"}},
      // GNOME's own switcher while no other holds the keys; keys typed after an earlier key
      // tool's end still reach the window.
      {"GnomeSession_AltTabSwitchesToThePreviousWindowAndKeysReachIt",
       {"typing", "one"},
       {"keys -M alt -k Tab -m alt", "focused typing", "keys abc", "typed abc"}},
      {"GnomeSession_AScreenshotShowsTheWindows", {"one", "two"}, {"shows:2 gnome-desktop"}},
  };
}

INSTANTIATE_TEST_SUITE_P(GnomeSession, GnomeDesktop, ::testing::ValuesIn(session()),
                         [](const auto& info) { return info.param.name; });

// --- Tolvane on GNOME -------------------------------------------------------------------------

const std::string kSuperDown = "-M logo", kSuperUp = "-m logo";
const std::string kTap = "keys " + kSuperDown + " -k Tab " + kSuperUp;
const std::string kOnScreen = "gnome: the panel is on screen";

/// Super held through a Tolvane session, with a second Tab long after the extension's 1 s of
/// patience with a silent Tolvane: time for a loaded machine to stop or stall Tolvane first.
const std::string kSilentHold = "hold -M logo -k Tab -s 6000 -k Tab -s 500 -m logo";
/// The second Tab (Super still held) is GNOME's own switcher's, which switches when Super comes
/// up.
const Steps kGnomeTakesOver{"shellSays GNOME has the keys", "shellSays goes to GNOME"};

std::vector<Scenario> tolvane() {
  const std::vector<std::string> three{"one", "two", "three"}, four{"one", "two", "three", "four"};
  return {
      {"TolvaneOnGnome_AQuickTapSwitchesToThePreviousWindowAndTabTabToTheThird", three,
       history({"three", "one", "two"}) +
           Steps{kTap, "focused one", "log " + kActivated,
                 "keys " + kSuperDown + " -k Tab -s 100 -k Tab -s 100 " + kSuperUp, "focused three",
                 "count:0 ok=false"}},
      // Held, the HUD shows over the windows: painted by Tolvane, shown by the extension.
      {"TolvaneOnGnome_AHeldSessionShowsTheHud", three,
       history({"one", "two", "three"}) +
           Steps{"screenshot gnome-before-hud", hold(kSuperDown, kSuperUp, 4000), "log " + kHud,
                 "log " + kOnScreen, "screenshot gnome-hud", "differs gnome-before-hud gnome-hud",
                 "focused two"}},
      {"TolvaneOnGnome_ShiftGoesBackwardsAndTheKeyAboveTabStaysInOneApplication",
       {"term:a", "one", "two", "term:b"},
       history({"term:a", "one", "two", "term:b"}) +
           Steps{"keys " + kSuperDown + " -M shift -k Tab -m shift " + kSuperUp, "focused term:a",
                 "focus term:b", "keys " + kSuperDown + " -k grave " + kSuperUp, "focused term:a"}},
      // Row 1 is the focused window: 3 is two windows back. Escape then switches nothing.
      {"TolvaneOnGnome_ADigitPicksARowAndEscapeCancels", four,
       history({"one", "two", "three", "four"}) +
           Steps{"keys " + kSuperDown + " -k Tab -s 300 -k 3 " + kSuperUp, "focused two",
                 "keys " + kSuperDown + " -k Tab -k Tab -s 300 -k Escape " + kSuperUp, "stays two",
                 "count:1 " + kActivated}},
      // The window chosen has the keyboard once the palette is gone.
      {"TolvaneOnGnome_ThePaletteActivatesAWindowByPartOfItsTitle",
       {"alpha", "typing", "build"},
       history({"typing", "alpha", "build"}) +
           Steps{"keys -M alt -k space -m alt", "log " + kPalette, "keys typ -k Return",
                 "focused typing", "keys -s 300 abc", "typed abc"}},
      {"TolvaneOnGnome_SwitchesAmongHundredsOfWindows",
       {"one"},
       Steps{"many:300 bulk", "launch", "focus one", kTap, "focused bulk", kTap, "focused one"}},
      // A window moved to another workspace: Mutter tells it that it is activated while the
      // focus stays, so the Shell's own focus is read.
      {"TolvaneOnGnome_RestoresAMinimizedWindowAndSwitchesToAnotherWorkspace", three,
       history({"one", "two", "three"}) + Steps{"minimize three", "focused two", kTap,
                                                "focused three", "toWorkspace2 two",
                                                "shellFocused three", kTap, "shellFocused two"}},
      // "one" closes while the session selects "two": the switch still lands on it.
      {"TolvaneOnGnome_AWindowClosingMidSessionLeavesTheSwitchWhole", three,
       history({"one", "two", "three"}) + Steps{hold(kSuperDown, kSuperUp, 4000), "log " + kHud,
                                                "close one", "log " + kActivated, "focused two"}},
      // Stopped while the extension holds the keyboard: it lets go once Tolvane has been silent
      // for 1 s, so the second Tab (Super still held) is GNOME's own switcher's, which switches
      // on the release, and typing reaches the window. Continued, Tolvane switches nothing late
      // and has the keys again.
      {"TolvaneOnGnomeKeepsNoKeyboard_StoppedMidSessionGnomeTakesTheKeys",
       {"typing", "other"},
       history({"typing", "other"}) + Steps{kSilentHold, "log " + kHud, "stop"} + kGnomeTakesOver +
           Steps{"focused typing", "keys abc", "typed abc", "cont",
                 "log no switch comes of that session", "stays typing", "count:0 " + kActivated,
                 kTap, "focused other", "log " + kActivated}},
      // A stalled main thread: the same.
      {"TolvaneOnGnomeKeepsNoKeyboard_AStallLetsTheKeyboardGo",
       {"typing", "other"},
       history({"typing", "other"}) + Steps{kSilentHold, "log " + kHud, "stall"} + kGnomeTakesOver +
           Steps{"focused typing", "keys abc", "typed abc", "release", "count:0 " + kActivated,
                 "stays typing", kTap, "focused other"}},
      // Quit, GNOME's own switcher has Super-Tab back at once.
      {"TolvaneOnGnome_QuitGivesGnomeItsSwitcherBack",
       {"one", "two"},
       history({"one", "two"}) + Steps{kTap, "focused one", "quit", kTap, "focused two"}},
      // Disabled, GNOME switches and Tolvane waits; enabled again, Tolvane has the keys back.
      {"TolvaneOnGnome_WaitsForItsExtensionToComeBack",
       {"one", "two"},
       history({"one", "two"}) + Steps{"extension:0", "log gnome: the extension went away", kTap,
                                       "focused one", "count:0 " + kActivated, "extension:1",
                                       "log:2 gnome: the extension lends", kTap, "focused two",
                                       "log " + kActivated}},
      // First run from the package: installed but off, Tolvane has GNOME turn it on.
      {"TolvaneOnGnome_TurnsItsInstalledExtensionOn",
       {"one", "two"},
       history({"one", "two"}) + Steps{"log asking GNOME Shell to enable it", kTap, "focused one"},
       Extension::disabled},
      // Not loaded yet (the package installed it during this login): Tolvane says what to do
      // once (the notice's line, the one a terminal shows) and on the onboarding's requirements
      // page.
      {"TolvaneOnGnome_SaysOnceWhatToDoWithoutItsExtension",
       {"one", "two"},
       {"launch", "log onboarding: shown page=permissions",
        "count:1 Z GNOME Shell has not loaded Tolvane's extension"},
       Extension::absent},
      // GNOME shows no tray icons: the extension's top-bar button carries Tolvane's menu.
      {"TolvaneOnGnome_TheTopBarMenuListsTheRecentWindows",
       {"alpha", "beta"},
       history({"alpha", "beta"}) + Steps{"menuLists alpha beta Quit"}},
  };
}

INSTANTIATE_TEST_SUITE_P(Gnome, GnomeDesktop, ::testing::ValuesIn(tolvane()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tolvane::test
