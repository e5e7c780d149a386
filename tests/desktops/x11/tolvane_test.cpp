// The real `tolvane` on a real X display, as scenarios: the desktop each starts with, then steps
// (keys to send, the window expected, the log line awaited) that one driver runs in order.
// Switching across desktops, the HUD, the palette and its hot key, the settings window and the
// guide, the tray menu, and the guards that Tolvane never keeps the user's keyboard: stalled,
// stopped or ended by a signal, with a session, the palette or the tray menu open, typing
// reaches the focused window and nothing switches late.
#include <signal.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "desktops/x11/support/tolvane_desktop.h"

namespace tolvane::test {
namespace {

using Json = nlohmann::json;

struct Scenario {
  std::string name;
  Desk desk;
  Steps steps;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

/// The text of a string table as the application shows it.
std::string tableText(const std::string& language, const std::string& key) {
  std::ifstream in(std::string(TOLVANE_SOURCE_DIR) + "/src/localization/tables/" + language +
                   ".json");
  const Json table = Json::parse(in, nullptr, false);
  return table.is_object() && table.contains(key) ? table[key].get<std::string>() : key;
}

class TolvaneScenario : public TolvaneDesktop, public ::testing::WithParamInterface<Scenario> {};

TEST_P(TolvaneScenario, Runs) {
  ASSERT_NO_FATAL_FAILURE(prepare(GetParam().desk));
  run(GetParam().steps);
}

// --- Pieces several scenarios share ----------------------------------------------------------

const std::string kActivated = "activate pid=";
const std::string kRunsAgain = "test hook: the main thread runs again";
const std::string kStopped = "tolvane: Tolvane was stopped while it held the keyboard";
const std::string kQuickSwitch = "keys keydown super key Tab keyup super";

/// A session holds the whole keyboard once the HUD shows.
const Steps kHoldASession = {"keys keydown super key Tab", "panel"};

/// The main thread blocked, `keys` (ending in "a b c") reach the focused window while it still
/// is; then it runs again.
Steps typeThroughAStall(const std::string& keys) {
  return {"stall:5 released", "log keyboard released", "keys " + keys,
          "typed abc",        "count:0 " + kRunsAgain, "release"};
}

/// Nothing switched late, and a quick switch still follows the history.
const Steps kNoLateSwitch = {"stays typing",  "count:0 " + kActivated, kQuickSwitch,
                             "focused other", "log " + kActivated,     "count:1 " + kActivated};

/// Stopped while one of its grabs holds the whole keyboard: once its windows are gone, which
/// only a closed connection does to a stopped client, typing reaches the terminal; continued,
/// Tolvane ends with one line that says why.
Steps stopAndTypeThrough(const std::string& whileStopped) {
  return {"stop",
          "keys " + whileStopped,
          "panel:0",
          "keys key a b c",
          "typed abc",
          "cont",
          "exit:1",
          "count:1 " + kStopped,
          "count:0 the X display went away",
          "stays typing"};
}

/// The palette over "build", the history most recent first: build, alpha, notes.
const Steps kPaletteReady = {"launch", "log palette hotkey registered keyCode=49 modifiers=2048",
                             "count:0 palette hotkey refused", "focus notes alpha build"};

/// Opens the palette after putting the history back, types `keys` and expects `chosen`.
Steps choose(const std::string& keys, const std::string& chosen) {
  return {"focus notes alpha build", "palette", "keys " + keys, "panel:0", "focused " + chosen};
}

/// Every page of the settings window, one picture each, named after the language and the tab.
Steps photographEveryPage(const std::string& language) {
  Steps steps;
  for (const std::string tab :
       {"general", "switcher", "privacy", "permissions", "account", "about"}) {
    steps = steps + Steps{"widget tab:" + tab, "shows page:" + tab,
                          "screenshot settings-" + language + "-" + tab + ".png"};
  }
  return steps;
}

const std::string kSevenDown = "keys key Down Down Down Down Down Down Down Return";
const std::string kSigterm = std::to_string(SIGTERM), kSigkill = std::to_string(SIGKILL);

// --- The scenarios -----------------------------------------------------------------------------

std::vector<Scenario> switching() {
  return {
      // Stock openbox, which binds Alt-Space to its window menu, and no tray host: Tolvane
      // switches all the same, and says once what it does without. Tab, Tab, Escape activates
      // nothing: had it activated "three", the quick Super-Tab after it would go to "two". (That
      // one waits for the ungrab: a press stamped before it could not take the keyboard.)
      // Held past the delay, the HUD shows a row per window; the third window of the history
      // is on the other desktop, which switches with it.
      {"TolvaneOnX11_SwitchesAcrossDesktopsWithSuperTab",
       {.windows = {"one", "two", "three"}},
       {"launch",
        "focus three one two",
        "toDesktop:1 three",
        "onDesktop:0",
        "keys keydown super key Tab key Tab key Escape keyup super",
        "keyboard:0",
        kQuickSwitch,
        "focused one",
        "log window={one} ok=true",
        "count:1 " + kActivated,
        "keys keydown super key Tab",
        "panel x144",
        "accent",
        "screenshot desktop-hud.png",
        "keys key Tab keyup super",
        "focused three",
        "onDesktop:1",
        "panel:0",
        "count:1 tray: no tray host;",
        "count:1 palette hotkey refused keyCode=49 modifiers=2048 reason=Alt+space is grabbed by "
        "another program, most likely the window manager (Openbox)",
        "count:0 palette hotkey registered"}},
      {"TolvaneWithoutAWindowManager_ItSaysSoOnce",
       {.windowManager = false},
       {"launch", "count:1 no EWMH window manager runs on display"}},
      // Quit or killed, it leaves no key grabbed; losing the display ends it with one line.
      {"TolvaneOnX11_NoKeyStaysGrabbedAfterTheProcessEndsAndLosingTheDisplayEndsIt",
       {.windows = {"one"}},
       {"launch", "superTab", "quit", "superTab:0", "launch", "superTab", "signal:" + kSigkill,
        "killed:" + kSigkill, "superTab:0", "launch", "killDisplay", "exit:1",
        "count:1 the X display went away"}},
  };
}

std::vector<Scenario> palette() {
  const Desk desk{.freeAltSpace = true, .windows = {"alpha", "notes", "build"}};
  return {
      // Opened, it takes the keyboard and leaves the active window so; Alt-Space again closes it.
      // "l" is in "build" (the selected row) and in "alpha", drawn in the accent. Had Escape
      // closed the palette, "alp" and Return would have gone to "build"; had it kept the text,
      // "notalp" would match nothing.
      {"PaletteInTolvane_OpensClosesPaintsMatchesAndOnlyAChoiceActivates", desk,
       kPaletteReady +
           Steps{"palette", "panel 600x420", "keyboard", "stays build", "keys key alt+space",
                 "panel:0", "keyboard:0", "stays build", "palette", "keys key l", "accent text",
                 "screenshot desktop-palette.png", "keys key Escape Escape", "panel:0"} +
           choose("key n o t Return", "notes") + choose("key super+2", "alpha") +
           choose("key n o t Escape a l p Return", "alpha") +
           choose("key n o t Escape Escape", "build") + choose("mousemove 5 5 click 1", "build")},
      // The combination is stored and applied, and Alt-Space let go.
      {"PaletteInTolvane_TheRecorderInTolvaneMovesTheHotKey", desk,
       kPaletteReady + Steps{"altSpace"} + kRecordCtrlShiftK +
           Steps{"stored paletteKeyCode=40", "stored paletteModifiers=4608", "palette ctrl+shift+k",
                 "keys key Escape", "panel:0", "altSpace:0"}},
  };
}

std::vector<Scenario> settings() {
  const std::string german = tableText("de", "settings.windowTitle");
  return {
      // The rest of the file stays as the user left it, and Tolvane keeps it.
      {"SettingsInTolvane_ALanguageWrittenIntoTheFileByHandRelabelsTheOpenWindow",
       {},
       Steps{"launch", "url tolvane://settings", "log settings shown: visible=true",
             "window settings=Tolvane Settings"} +
           photographEveryPage("en") +
           Steps{"edit languageCode=\"de\"", "window settings=" + german} +
           photographEveryPage("de") + Steps{"stored languageCode=\"de\""}},
      // Closed by the user with the window manager's close button, it stays closed.
      {"SettingsInTolvane_TheGuideGreetsAFirstLaunchOnly",
       {.firstLaunch = true},
       {"launch", "window guide=Getting Started Guide", "autostart",
        "screenshot onboarding-welcome.png", "close guide", "stored onboardingCompleted=true",
        "quit", "launch", "noWindow Getting Started Guide", "count:0 onboarding: shown"}},
  };
}

std::vector<Scenario> keyboardSafety() {
  // A typing terminal in front, another window behind it in the history: a stray switch would
  // activate "other".
  const Desk desk{.windows = {"other", "typing"}};
  Desk palette = desk;
  palette.freeAltSpace = true;
  // A paused switcher holds no key of its own; the palette's grab is watched all the same.
  Desk paused = palette;
  paused.preferences = R"({"switcherPaused": true})";
  const Steps ready = {"launch", "focus other typing"};
  const std::string timedOut = "log event tap disabled by system (timeout)";
  return {
      // Back, the tap hears that it was stalled.
      {"TolvaneKeepsNoKeyboard_AStallWhileIdleLetsTypingThroughAndSwitchesNothingLater", desk,
       ready + typeThroughAStall("keydown super key Tab keyup super key a b c") + Steps{timedOut} +
           kNoLateSwitch},
      {"TolvaneKeepsNoKeyboard_AStallDuringASessionReleasesItsGrabAndCancelsIt", desk,
       ready + kHoldASession + typeThroughAStall("keyup super key a b c") +
           Steps{timedOut, "panel:0"} + kNoLateSwitch},
      {"TolvaneKeepsNoKeyboard_WhileStoppedTypingGoesThroughAndAfterwardsNothingSwitches", desk,
       ready +
           Steps{"stop", "keys keydown super key Tab keyup super key a b c", "typed abc", "cont",
                 "log keys pressed meanwhile are dropped"} +
           kNoLateSwitch},
      {"TolvaneKeepsNoKeyboard_StoppedDuringASessionItLetsGoOfTheDisplay", desk,
       ready + kHoldASession + stopAndTypeThrough("keyup super")},
      // Ended long before the stall would have: by the deadline, not by the normal quit.
      {"TolvaneKeepsNoKeyboard_SigtermWithTheMainThreadBlockedEndsByTheSignal", desk,
       ready + kHoldASession +
           Steps{"stall:30", "signal:" + kSigterm, "killed:" + kSigterm,
                 "count:1 quit: the main thread did not get there within 2 s", "keys keyup super",
                 "superTab:0"}},
      {"TolvaneKeepsNoKeyboardWithThePalette_StoppedWithThePaletteOpenItLetsGoOfTheDisplay",
       palette, ready + Steps{"palette"} + stopAndTypeThrough("")},
      // Back, the palette hears that its grab is gone and closes.
      {"TolvanePausedKeepsNoKeyboard_AStallWithThePaletteOpenLetsTypingThrough", paused,
       ready + Steps{"superTab:0", "palette"} + typeThroughAStall("key a b c") + Steps{"panel:0"}},
  };
}

std::vector<Scenario> tray() {
  // Paused, Tolvane holds no key of its own: only the open menu's grab can be what is let go
  // of, by the watchdog for a stalled Tolvane and by the sentinel for a stopped one.
  const Desk paused{
      .tray = true, .preferences = R"({"switcherPaused": true})", .windows = {"typing"}};
  const Steps menuOpen = {"launch", "focus typing", "trayMenu click 3"};
  return {
      // The pause entry is below "Search Windows…" and the five recent windows; the second
      // time a Control-click opens the menu (another secondary click this soon would count as
      // a double click, which Qt's tray icon takes for nothing).
      {"TolvaneInATray_TheMenuListsTheFiveRecentTerminalsAndPausesAndResumesSwitching",
       {.tray = true, .windows = {"one", "two", "three", "four", "five", "six"}},
       {"launch", "focus one two three four five six", "trayMenu click 3",
        "menuLists {six},{five},{four},{three},{two}", "screenshot desktop-tray-menu.png",
        kSevenDown, "log tray: switching paused", "superTab:0", kQuickSwitch, "stays six",
        "count:0 " + kActivated, "trayMenu keydown ctrl click 1 keyup ctrl", kSevenDown,
        "log tray: switching resumed", "superTab", kQuickSwitch, "focused five"}},
      // Stalled, then stopped, each time with the menu open.
      {"TrayMenuKeepsNoKeyboard_StalledOrStoppedWithTheMenuOpenItLetsGo", paused,
       menuOpen + typeThroughAStall("key a b c") +
           Steps{"panel:0", "keyboard:0", "trayMenu click 3", "stop", "panel:0", "keys key d e f",
                 "typed def", "cont", "exit:1", "count:1 " + kStopped}},
  };
}

std::vector<Scenario> all() {
  std::vector<Scenario> scenarios;
  for (auto part : {switching, palette, settings, keyboardSafety, tray}) {
    for (auto& scenario : part()) scenarios.push_back(std::move(scenario));
  }
  return scenarios;
}

INSTANTIATE_TEST_SUITE_P(Desktop, TolvaneScenario, ::testing::ValuesIn(all()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tolvane::test
