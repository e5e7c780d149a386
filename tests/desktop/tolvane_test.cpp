// The real `tolvane` on a real X display, as scenarios: the desktop each starts with, then steps
// (keys to send, the window expected, the log line awaited) that one driver runs in order.
// Switching across desktops and within an application, the HUD, the palette and its hot key,
// the settings window and the guide, the tray menu, and the guards that Tolvane never keeps the
// user's keyboard: stalled, stopped or ended by a signal, with a session, the palette or the
// tray menu open, typing reaches the focused window and nothing switches late.
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"
#include "desktop/support/tolvane_desktop.h"

namespace tolvane::test {
namespace {

using Json = nlohmann::json;

/// The scenarios' steps are words: "verb[:n] argument", as in "count:0 activate pid=". Window
/// names in braces stand for the window's number ("log window={one} ok=true").
struct Step {
  std::string verb, arg;
  int n = 1;
};

Step parse(const std::string& text) {
  const auto space = text.find(' ');
  Step step{text.substr(0, space), space == std::string::npos ? "" : text.substr(space + 1)};
  if (const auto colon = step.verb.find(':'); colon != std::string::npos) {
    step.n = std::stoi(step.verb.substr(colon + 1));
    step.verb.resize(colon);
  }
  return step;
}

using Steps = std::vector<std::string>;

struct Scenario {
  std::string name;
  Desk desk;
  Steps steps;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

Steps operator+(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The selected row's accent, and the foreground the tray host asks icons to use.
constexpr std::uint8_t kAccent[] = {10, 132, 255};
constexpr std::uint8_t kTrayForeground[] = {0, 0xA0, 0x50};
constexpr xcb_keycode_t kTab = 23, kSpace = 65;  // in Xvfb's default keymap

/// The text of a string table as the application shows it.
std::string tableText(const std::string& language, const std::string& key) {
  std::ifstream in(std::string(TOLVANE_SOURCE_DIR) + "/src/localization/tables/" + language +
                   ".json");
  const Json table = Json::parse(in, nullptr, false);
  return table.is_object() && table.contains(key) ? table[key].get<std::string>() : key;
}

/// "key=value" as its two halves.
std::pair<std::string, std::string> split(const std::string& text) {
  const auto at = text.find('=');
  return {text.substr(0, at), at == std::string::npos ? "" : text.substr(at + 1)};
}

/// Whether a wait status is what "exit" expects: "0", "exited" (any code), "killed:N".
bool endedAs(int status, const std::string& want) {
  if (want == "0") return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (want == "exited") return WIFEXITED(status);
  if (want.starts_with("killed:")) {
    return WIFSIGNALED(status) && WTERMSIG(status) == std::stoi(want.substr(7));
  }
  return want.empty();
}

class TolvaneScenario : public TolvaneDesktop, public ::testing::WithParamInterface<Scenario> {
 protected:
  using Verb = std::function<void(const Step&)>;
  TolvaneScenario() {
    addActions();
    addWaits();
    addChecks();
  }
  void run(const Step& step) {
    const auto verb = verbs_.find(step.verb);
    ASSERT_NE(verb, verbs_.end()) << "no such step";
    verb->second(step);
  }

 private:
  void addActions();
  void addWaits();
  void addChecks();
  xcb_window_t at(const std::string& name) const {
    const auto found = windows.find(name);
    return found == windows.end() ? xcb_window_t{XCB_WINDOW_NONE} : found->second;
  }
  Json preferences() {
    std::ifstream in(preferencesPath());
    return Json::parse(in, nullptr, false);
  }
  bool showsOnPanel(const std::uint8_t (&rgb)[3], bool asText) {
    const auto shown = panel();
    return shown && (asText ? showsColourAsText : showsColour)(x.xcb(), x.root(), *shown, rgb[0],
                                                               rgb[1], rgb[2]);
  }

  std::map<std::string, Verb> verbs_;
  std::string menu_;
};

// What the user and the desktop do.
void TolvaneScenario::addActions() {
  verbs_["launch"] = [this](const Step&) { launch(); };
  verbs_["type"] = [this](const Step& s) {
    if (!s.arg.empty()) type(s.arg);
  };
  // As a pager would, each window of the list in turn, until Tolvane saw it; "pager": without
  // waiting for Tolvane.
  verbs_["activate"] = verbs_["pager"] = [this](const Step& s) {
    std::istringstream names(s.arg);
    for (std::string name; names >> name && !HasFatalFailure();) {
      if (s.verb == "activate") activate(at(name));
      if (s.verb == "pager") x.sendRootMessage(at(name), "_NET_ACTIVE_WINDOW", {2, 0, 0});
    }
  };
  verbs_["url"] = [this](const Step& s) { ASSERT_EQ(tolvane->sendURL(s.arg), 0); };
  // Blocks Tolvane's main thread for n seconds, and with "released" then until "release".
  verbs_["stall"] = [this](const Step& s) {
    const std::string url = "tolvane://test-stall?seconds=" + std::to_string(s.n);
    ASSERT_EQ(tolvane->sendURL(url + (s.arg == "released" ? "&until=released" : "")), 0);
    ASSERT_TRUE(waitForLog("test hook: the main thread stalls")) << tolvane->log();
  };
  verbs_["release"] = [this](const Step&) {
    std::ofstream(home.path() + "/XDG_RUNTIME_DIR/test-stall-release");
    ASSERT_TRUE(waitForLog("test hook: the main thread runs again")) << tolvane->log();
  };
  verbs_["signal"] = [this](const Step& s) { tolvane->signal(s.n); };
  // Sends signal n (none: 0) and waits for the end.
  verbs_["exit"] = [this](const Step& s) {
    const int status = waitForExit(s.n);
    EXPECT_TRUE(endedAs(status, s.arg)) << "status " << status << "\n" << tolvane->log();
  };
  verbs_["toDesktop"] = [this](const Step& s) {
    const auto desktop = static_cast<std::uint32_t>(s.n);
    x.sendRootMessage(at(s.arg), "_NET_WM_DESKTOP", {desktop, 2});
    const auto moved = [&](const auto& v) { return v && !v->empty() && (*v)[0] == desktop; };
    ASSERT_TRUE(x.waitForProperty(at(s.arg), "_NET_WM_DESKTOP", moved, {tolvane->pump()}));
  };
  verbs_["close"] = [this](const Step& s) {
    x.sendRootMessage(at(s.arg), "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2});
  };
  verbs_["killDisplay"] = [this](const Step&) { x.killServer(); };
  verbs_["screenshot"] = [this](const Step& s) { saveScreenshot(x, s.arg); };
  // "key=json": the settings file changed in an editor.
  verbs_["edit"] = [this](const Step& s) {
    const auto [key, value] = split(s.arg);
    Json json = preferences();
    ASSERT_TRUE(json.is_object());
    json[key] = Json::parse(value);
    std::ofstream(preferencesPath() + ".edit") << json.dump(2);
    std::filesystem::rename(preferencesPath() + ".edit", preferencesPath());
  };
  verbs_["widget"] = [this](const Step& s) { clickWidget(s.arg); };
  // Opens the tray menu with a click (xdotool's words) on the icon.
  verbs_["trayMenu"] = [this](const Step& s) { menu_ = openTrayMenu(s.arg); };
  // Types the hot key until the palette shows and its grab holds the keyboard.
  verbs_["palette"] = [this](const Step& s) { openPalette(s.arg.empty() ? "alt+space" : s.arg); };
}

// What Tolvane and the window manager do in answer, waited for.
void TolvaneScenario::addWaits() {
  verbs_["active"] = [this](const Step& s) {
    EXPECT_TRUE(waitForActive(at(s.arg))) << tolvane->log();
  };
  // Once the window manager has handled everything, the window is the active one: a stray
  // switch leaves another active. (It may name none for a moment while focus returns from a
  // grab.)
  verbs_["stays"] = [this](const Step& s) {
    ASSERT_TRUE(x.syncWindowManager(nullptr, {tolvane->pump()}));
    EXPECT_TRUE(waitForActive(at(s.arg))) << "active: " << x.activeWindow() << "\n"
                                          << tolvane->log();
  };
  verbs_["log"] = [this](const Step& s) {
    ASSERT_TRUE(waitForLog(expand(s.arg), s.n)) << tolvane->log();
  };
  verbs_["typed"] = [this](const Step& s) { ASSERT_TRUE(waitForTyped(s.arg)) << tolvane->log(); };
  // A panel shows (n 1) or is gone (n 0); "WxH" or "xH" checks its size.
  verbs_["panel"] = [this](const Step& s) {
    ASSERT_TRUE(waitForPanel(s.n == 1)) << tolvane->log();
    const auto shown = panel();
    if (s.arg.empty() || !shown) return;
    const std::string width = s.arg[0] == 'x' ? "" : std::to_string(shown->width);
    EXPECT_EQ(width + "x" + std::to_string(shown->height), s.arg);
  };
  // Mapped is not yet painted: the panel is read until the accent shows; "text": as text or a
  // thin mark only, not as a filled band.
  verbs_["accent"] = [this](const Step& s) {
    EXPECT_TRUE(pollUntil([&] { return showsOnPanel(kAccent, s.arg == "text"); })) << "no accent";
  };
  verbs_["keyboard"] = [this](const Step& s) {
    EXPECT_TRUE(pollUntil([&] { return keyboardTaken() == (s.n == 1); })) << tolvane->log();
  };
  // Tolvane holds Super-Tab (n 1) or has let go of it (n 0).
  verbs_["superTab"] = [this](const Step& s) {
    const auto held = [&] { return !comboIsFree(x, kTab, XCB_MOD_MASK_4); };
    EXPECT_TRUE(pollUntil([&] { return held() == (s.n == 1); })) << tolvane->log();
  };
  // "name=prefix": names the window whose number the log writes after the prefix.
  verbs_["named"] = [this](const Step& s) {
    const auto [key, prefix] = split(s.arg);
    ASSERT_TRUE(waitForLog(prefix)) << tolvane->log();
    const auto& log = tolvane->log();
    name(key, static_cast<xcb_window_t>(
                  std::strtoul(log.c_str() + log.find(prefix) + prefix.size(), nullptr, 10)));
  };
  // "name=title": Tolvane's one window of that title, named.
  verbs_["window"] = [this](const Step& s) {
    const auto [key, title] = split(s.arg);
    const xcb_window_t shown = windowTitledWhenShown(title);
    ASSERT_NE(shown, XCB_WINDOW_NONE);
    name(key, shown);
  };
  // "key=json": the settings file holds it.
  verbs_["stored"] = [this](const Step& s) {
    const auto [key, value] = split(s.arg);
    // clang 14 cannot capture structured bindings in a lambda; named copies it can.
    const std::string setting = key, expected = value;
    EXPECT_TRUE(pollUntil([&] {
      return preferences().value(setting, Json()) == Json::parse(expected);
    })) << s.arg
        << "\n"
        << tolvane->log();
  };
  verbs_["shows"] = [this](const Step& s) {
    EXPECT_TRUE(pollUntil([&] { return showsWidget(s.arg); })) << s.arg;
  };
}

// What holds now.
void TolvaneScenario::addChecks() {
  // The log says it exactly n times.
  verbs_["count"] = [this](const Step& s) {
    EXPECT_EQ(tolvane->count(expand(s.arg)), s.n) << tolvane->log();
  };
  verbs_["onDesktop"] = [this](const Step& s) {
    EXPECT_EQ(x.value(x.root(), "_NET_CURRENT_DESKTOP"), static_cast<std::uint32_t>(s.n));
  };
  verbs_["altSpace"] = [this](const Step& s) {
    EXPECT_EQ(comboIsFree(x, kSpace, XCB_MOD_MASK_1), s.n == 0);
  };
  verbs_["noWindow"] = [this](const Step& s) {
    EXPECT_TRUE(windowsTitled(x, tolvane->pid(), s.arg).empty());
  };
  // The last menu listed these windows, most recent first.
  verbs_["menuLists"] = [this](const Step& s) { EXPECT_EQ(menu_, expand(s.arg)); };
  verbs_["iconColour"] = [this](const Step&) {
    const auto icon = trayIcon();
    ASSERT_TRUE(icon) << tolvane->log();
    const std::uint8_t* rgb = kTrayForeground;
    EXPECT_TRUE(pollUntil([&] {
      return showsColour(x.xcb(), x.root(), *icon, rgb[0], rgb[1], rgb[2]);
    })) << "the icon is not drawn in the tray's foreground colour";
  };
}

TEST_P(TolvaneScenario, Runs) {
  ASSERT_NO_FATAL_FAILURE(prepare(GetParam().desk));
  for (const std::string& text : GetParam().steps) {
    SCOPED_TRACE(text);
    ASSERT_NO_FATAL_FAILURE(run(parse(text)));
    if (HasFailure()) return;
  }
}

// --- Pieces several scenarios share ----------------------------------------------------------

const std::string kActivated = "activate pid=";
const std::string kRunsAgain = "test hook: the main thread runs again";
const std::string kStopped = "tolvane: Tolvane was stopped while it held the keyboard";
const std::string kQuickSwitch = "type keydown super key Tab keyup super";

/// A session holds the whole keyboard once the HUD shows.
const Steps kHoldASession = {"type keydown super key Tab", "panel"};

/// The main thread blocked, `keys` (ending in "a b c") reach the focused window while it still
/// is; then it runs again.
Steps typeThroughAStall(const std::string& keys) {
  return {"stall:5 released", "log keyboard released", "type " + keys,
          "typed abc",        "count:0 " + kRunsAgain, "release"};
}

/// Nothing switched late, and a quick switch still follows the history.
const Steps kNoLateSwitch = {"stays typing", "count:0 " + kActivated, kQuickSwitch,
                             "active other", "log " + kActivated,     "count:1 " + kActivated};

/// Stopped while one of its grabs holds the whole keyboard: once its windows are gone, which
/// only a closed connection does to a stopped client, typing reaches the terminal; continued,
/// Tolvane ends with one line that says why.
Steps stopAndTypeThrough(const std::string& whileStopped) {
  return {"signal:" + std::to_string(SIGSTOP),
          "type " + whileStopped,
          "panel:0",
          "type key a b c",
          "typed abc",
          "exit:" + std::to_string(SIGCONT) + " exited",
          "count:1 " + kStopped,
          "count:0 the X display went away",
          "stays typing"};
}

/// The palette over "build", the history most recent first: build, alpha, notes.
const Steps kPaletteReady = {"launch", "log palette hotkey registered keyCode=49 modifiers=2048",
                             "count:0 palette hotkey refused", "activate notes alpha build"};

/// Opens the palette after putting the history back, types `keys` and expects `chosen`.
Steps choose(const std::string& keys, const std::string& chosen) {
  return {"activate notes alpha build", "palette", "type " + keys, "panel:0", "active " + chosen};
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

const std::string kSevenDown = "type key Down Down Down Down Down Down Down Return";
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
        "activate three one two",
        "toDesktop:1 three",
        "onDesktop:0",
        "type keydown super key Tab key Tab key Escape keyup super",
        "keyboard:0",
        kQuickSwitch,
        "active one",
        "log window={one} ok=true",
        "count:1 " + kActivated,
        "type keydown super key Tab",
        "panel x144",
        "accent",
        "screenshot desktop-hud.png",
        "type key Tab keyup super",
        "active three",
        "onDesktop:1",
        "panel:0",
        "count:1 tray: no tray host;",
        "count:1 palette hotkey refused keyCode=49 modifiers=2048 reason=Alt+space is grabbed by "
        "another program, most likely the window manager (Openbox)",
        "count:0 palette hotkey registered"}},
      // The terminal was used in between, but only the client's own windows take part.
      {"TolvaneOnX11_SuperAndTheKeyAboveTabCycleTheFrontmostApplication",
       {.windows = {"term", "client"}},
       {"launch", "activate client.0 term client.1", "type keydown super key grave keyup super",
        "active client.0"}},
      {"TolvaneWithoutAWindowManager_ItSaysSoOnce",
       {.windowManager = false},
       {"launch", "count:1 no EWMH window manager runs on display"}},
      // SIGTERM takes the normal quit path, which ends with status 0.
      {"TolvaneOnX11_NoKeyStaysGrabbedAfterTheProcessEnds",
       {.windows = {"one"}},
       {"launch", "superTab", "exit:" + kSigterm + " 0", "superTab:0", "launch", "superTab",
        "exit:" + kSigkill + " killed:" + kSigkill, "superTab:0"}},
      {"TolvaneOnX11_LosingTheDisplayEndsTolvaneWithAClearMessage",
       {.windows = {"one"}},
       {"launch", "killDisplay", "exit:0 exited", "count:1 the X display went away"}},
  };
}

std::vector<Scenario> palette() {
  const Desk desk{.freeAltSpace = true, .windows = {"alpha", "notes", "build"}};
  return {
      {"PaletteInTolvane_AltSpaceOpensItOverTheActiveWindowAndAgainClosesIt", desk,
       kPaletteReady + Steps{"palette", "panel 600x420", "keyboard", "stays build",
                             "type key alt+space", "panel:0", "keyboard:0", "stays build"}},
      // Had Escape closed the palette, "alp" and Return would have gone to "build"; had it kept
      // the text, "notalp" would match nothing.
      {"PaletteInTolvane_KeysAndClicksChooseOrCloseAndOnlyAChoiceActivates", desk,
       kPaletteReady + choose("key n o t Return", "notes") + choose("key super+2", "alpha") +
           choose("key n o t Escape a l p Return", "alpha") +
           choose("key n o t Escape Escape", "build") + choose("mousemove 5 5 click 1", "build")},
      // "l" is in "build" (the selected row) and in "alpha", drawn in the accent.
      {"PaletteInTolvane_AQueryIsPaintedWithItsMatches", desk,
       kPaletteReady +
           Steps{"palette", "type key l", "accent text", "screenshot desktop-palette.png"}},
      // The recorder sits at its window's origin, 28 pixels high; a key without a modifier
      // beeps and recording goes on; the combination is stored and applied, and Alt-Space let go.
      {"PaletteInTolvane_TheRecorderInTolvaneMovesTheHotKey", desk,
       kPaletteReady + Steps{"altSpace", "url tolvane://test-recorder",
                             "named recorder=test hook: recorder window=", "active recorder",
                             "count:1 test hook: recorder recording=0 chips=AltSpace reset=0",
                             "type mousemove --window {recorder} 12 14 click 1",
                             "log test hook: recorder recording=1 chips= reset=0",
                             "type key k ctrl+shift+k",
                             "log test hook: recorder recording=0 chips=CtrlShiftK reset=1",
                             "count:1 palette hotkey registered keyCode=40 modifiers=4608",
                             "stored paletteKeyCode=40", "stored paletteModifiers=4608",
                             "palette ctrl+shift+k", "type key Escape", "panel:0", "altSpace:0"}},
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
       {"launch", "window guide=Getting Started Guide", "screenshot onboarding-welcome.png",
        "close guide", "stored onboardingCompleted=true", "exit:" + kSigterm, "launch",
        "noWindow Getting Started Guide", "count:0 onboarding: shown"}},
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
  const Steps ready = {"launch", "activate other typing"};
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
           Steps{"signal:" + std::to_string(SIGSTOP),
                 "type keydown super key Tab keyup super key a b c", "typed abc",
                 "signal:" + std::to_string(SIGCONT), "log keys pressed meanwhile are dropped"} +
           kNoLateSwitch},
      {"TolvaneKeepsNoKeyboard_StoppedDuringASessionItLetsGoOfTheDisplay", desk,
       ready + kHoldASession + stopAndTypeThrough("keyup super")},
      // Ended long before the stall would have: by the deadline, not by the normal quit.
      {"TolvaneKeepsNoKeyboard_SigtermWithTheMainThreadBlockedEndsByTheSignal", desk,
       ready + kHoldASession +
           Steps{"stall:30", "exit:" + kSigterm + " killed:" + kSigterm,
                 "count:1 quit: the main thread did not get there within 2 s", "type keyup super",
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
  const Steps menuOpen = {"launch", "activate typing", "trayMenu click 3"};
  return {
      // The pause entry is below "Search Windows…" and the five recent windows; the second
      // time a Control-click opens the menu (another secondary click this soon would count as
      // a double click, which Qt's tray icon takes for nothing).
      {"TolvaneInATray_TheMenuListsTheFiveRecentTerminalsAndPausesAndResumesSwitching",
       {.tray = true, .windows = {"one", "two", "three", "four", "five", "six"}},
       {"launch", "activate one two three four five six", "iconColour", "trayMenu click 3",
        "menuLists {six},{five},{four},{three},{two}", "screenshot desktop-tray-menu.png",
        kSevenDown, "log tray: switching paused", "superTab:0", kQuickSwitch, "stays six",
        "count:0 " + kActivated, "trayMenu keydown ctrl click 1 keyup ctrl", kSevenDown,
        "log tray: switching resumed", "superTab", kQuickSwitch, "active five"}},
      // "Settings…" is above the guide, "About" and "Quit". Tolvane notes no focus change back
      // to a window that was active before its own: the pager's is not awaited.
      {"TolvaneInATray_SettingsOpenFromTheMenuAndByURLAsOneWindowThatComesForward",
       {.tray = true, .windows = {"other"}},
       {"launch", "trayMenu click 3", "type key Up Up Up Up Return",
        "log settings shown: visible=true", "window settings=Tolvane Settings", "active settings",
        "pager other", "active other", "url tolvane://settings",
        "log:2 settings shown: visible=true", "active settings",
        "window settings=Tolvane Settings"}},
      {"TrayMenuKeepsNoKeyboard_AStallWithTheMenuOpenLetsTypingThroughAndTheMenuCloses", paused,
       menuOpen + typeThroughAStall("key a b c") + Steps{"panel:0", "keyboard:0"}},
      {"TrayMenuKeepsNoKeyboard_StoppedWithTheMenuOpenItLetsGoOfTheDisplay", paused,
       menuOpen + Steps{"signal:" + std::to_string(SIGSTOP), "panel:0", "type key a b c",
                        "typed abc", "exit:" + std::to_string(SIGCONT) + " exited",
                        "count:1 " + kStopped}},
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
