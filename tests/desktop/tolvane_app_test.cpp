// The `tolvane` executable on a real X display: xterms and a two-window client under openbox,
// keys typed through XTEST (xdotool), and what the window manager reports as active. Every wait
// ends on an X event or a line of Tolvane's log, bounded; none sleeps.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"
#include "desktop/support/tolvane_process.h"
#include "desktop/support/typing_recorder.h"
#include "desktop/support/x_session.h"

namespace tolvane {
namespace {

class TolvaneOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(configureDisplay());
    ASSERT_TRUE(x.start()) << x.error();
    x.watch(x.root());
  }
  /// Before the display starts: the window manager's arguments, for one.
  virtual void configureDisplay() {}

  /// Starts Tolvane and waits until it has warmed up and taken the keys.
  void launch() {
    tolvane = std::make_unique<test::TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(), home.path());
    ASSERT_TRUE(waitForLog("window snapshot warmed")) << tolvane->log();
  }
  /// Types keys through XTEST, as a user would: "keydown super key Tab keyup super".
  void type(const std::string& keys) {
    std::vector<std::string> args;
    std::istringstream words(keys);
    for (std::string word; words >> word;) args.push_back(word);
    ASSERT_TRUE(test::xdotool(x, args));
  }
  bool waitForLog(const std::string& text, int times = 1) {
    return x.waitUntil([&] { return tolvane->count(text) >= times; }, {tolvane->pump()});
  }
  /// Activates a window as a pager would, and waits until it is active; Tolvane's focus
  /// tracker sees the same change.
  void activate(xcb_window_t window) {
    if (x.activeWindow() == window) return;  // Tolvane took it from the stacking at launch
    const std::string seen = "x11: focus " + std::to_string(window) + "\n";
    const int before = tolvane->count(seen);
    x.sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
    ASSERT_TRUE(waitForActive(window));
    // Tolvane reads the active window when it handles the change: a focus shorter than its
    // handling would never reach its history, so each step waits until Tolvane has seen it.
    ASSERT_TRUE(waitForLog(seen, before + 1)) << tolvane->log();
  }
  bool waitForActive(xcb_window_t window) {
    return x.waitUntil([&] { return x.activeWindow() == window; }, {tolvane->pump()});
  }
  /// The mapped override-redirect window Tolvane shows as its HUD (or its palette), if any.
  std::optional<xcb_get_geometry_reply_t> hud() { return test::mappedOverlay(x.xcb(), x.root()); }
  bool waitForHud(bool shown) {
    return x.waitUntil([&] { return hud().has_value() == shown; }, {tolvane->pump()});
  }
  /// Whether another client holds the keyboard (an open menu or the palette does); the probe
  /// lets go at once.
  bool keyboardTaken() {
    auto* reply =
        xcb_grab_keyboard_reply(x.xcb(),
                                xcb_grab_keyboard(x.xcb(), 0, x.root(), XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr);
    const bool taken = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
      xcb_ungrab_keyboard(x.xcb(), XCB_CURRENT_TIME);
      x.sync();
    }
    std::free(reply);
    return taken;
  }
  /// Checks `done` once per round trip to the server until it holds or the bound passes: for
  /// states no event announces (a grab taken or given up).
  bool pollUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + test::XSession::kBound;
    while (std::chrono::steady_clock::now() < deadline) {
      tolvane->pump().drain();
      if (done()) return true;
    }
    return false;
  }
  /// Whether another client could take Super-Tab now: Tolvane holds no grab of it.
  bool superTabIsFree() {
    constexpr xcb_keycode_t kTab = 23;  // in Xvfb's default keymap
    xcb_generic_error_t* error =
        xcb_request_check(x.xcb(), xcb_grab_key_checked(x.xcb(), 1, x.root(), XCB_MOD_MASK_4, kTab,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const bool free = error == nullptr;
    std::free(error);
    xcb_ungrab_key(x.xcb(), kTab, x.root(), XCB_MOD_MASK_4);
    x.sync();
    return free;
  }

  test::XSession x;
  test::TempDir home;
  std::unique_ptr<test::TolvaneProcess> tolvane;
};

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
  ASSERT_TRUE(waitForHud(true));
  const auto panel = hud();
  ASSERT_TRUE(panel);
  EXPECT_EQ(panel->height, 144) << "a panel of three rows";
  // Mapped is not yet painted: the picture is taken once the selected row's accent shows.
  // No event announces painting, so each check is one round trip to the server.
  const auto deadline = std::chrono::steady_clock::now() + test::XSession::kBound;
  bool painted = false;
  while (!painted && std::chrono::steady_clock::now() < deadline) {
    painted = test::showsColour(x.xcb(), x.root(), *panel, 10, 132, 255);
  }
  EXPECT_TRUE(painted) << "the selected row's accent never showed";
  const char* artifacts = std::getenv("TOLVANE_TEST_ARTIFACTS");
  const std::string shot = std::string(artifacts ? artifacts : ".") + "/desktop-hud.png";
  std::system(("import -display " + x.display() + " -window root " + shot).c_str());
  std::printf("HUD screenshot: %s\n", shot.c_str());
  // Tab again picks the third window of the history, on the other desktop: the desktop
  // switches with it.
  type("key Tab keyup super");
  ASSERT_TRUE(waitForActive(w3)) << tolvane->log();
  EXPECT_EQ(x.value(x.root(), "_NET_CURRENT_DESKTOP"), 1u);
  EXPECT_TRUE(waitForHud(false));
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

// A recording terminal in front, another window behind it in the history: a stray switch
// would activate "other".
class TolvaneKeepsNoKeyboard : public TolvaneOnX11 {
 protected:
  void SetUp() override {
    TolvaneOnX11::SetUp();
    const auto otherClient = x.startXterm("other");
    const auto recorderClient = recorder.start(x, "recorder");
    ASSERT_TRUE(otherClient && recorderClient);
    other = otherClient->windows[0];
    typing = recorderClient->windows[0];
    launch();
    activate(other);
    activate(typing);
  }
  /// Blocks Tolvane's main thread for `seconds`, as a hung call would.
  void stall(int seconds) {
    ASSERT_EQ(tolvane->sendURL("tolvane://test-stall?seconds=" + std::to_string(seconds)), 0);
    ASSERT_TRUE(waitForLog("test hook: the main thread stalls")) << tolvane->log();
  }
  bool stalled() const { return tolvane->count("test hook: the main thread runs again") == 0; }
  /// Stalls the main thread and types `keys`, which end in "a b c": the text must reach the
  /// focused window while the main thread is still blocked, and the tap hear of it afterwards.
  void typeThroughAStall(const std::string& keys) {
    stall(5);
    ASSERT_TRUE(waitForLog("keyboard released")) << tolvane->log();
    type(keys);
    ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
    EXPECT_TRUE(stalled()) << "the text must arrive while the main thread is still blocked";
    ASSERT_TRUE(waitForLog("event tap disabled by system (timeout)")) << tolvane->log();
  }
  bool waitForTyped(const std::string& text) {
    return x.waitUntil([&] { return recorder.text().find(text) != std::string::npos; },
                       {recorder.pump(), tolvane->pump()});
  }
  /// After the keys pressed meanwhile were dropped, a quick switch still follows the history.
  void expectNoLateSwitch() {
    EXPECT_EQ(x.activeWindow(), typing);
    EXPECT_EQ(tolvane->count("activate pid="), 0) << tolvane->log();
    type("keydown super key Tab keyup super");
    ASSERT_TRUE(waitForActive(other)) << tolvane->log();
    EXPECT_EQ(tolvane->count("activate pid="), 1) << tolvane->log();
  }

  /// Stops Tolvane while one of its grabs holds the whole keyboard and types `whileStopped`:
  /// once its windows are gone, which only a closed connection does to a stopped client,
  /// typing reaches the terminal; continued, Tolvane ends with one line that says why.
  void stopAndTypeThrough(const std::string& whileStopped) {
    tolvane->signal(SIGSTOP);
    if (!whileStopped.empty()) type(whileStopped);
    ASSERT_TRUE(waitForHud(false)) << tolvane->log();
    type("key a b c");
    ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
    tolvane->signal(SIGCONT);
    const int status = tolvane->wait();
    tolvane->pump().drain();
    EXPECT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << tolvane->log();
    EXPECT_EQ(tolvane->count("tolvane: Tolvane was stopped while it held the keyboard"), 1)
        << tolvane->log();
    EXPECT_EQ(tolvane->count("the X display went away"), 0) << tolvane->log();
    EXPECT_EQ(x.activeWindow(), typing);
  }

  test::TypingRecorder recorder;
  xcb_window_t other = XCB_WINDOW_NONE;
  xcb_window_t typing = XCB_WINDOW_NONE;
};

TEST_F(TolvaneKeepsNoKeyboard, AStallWhileIdleLetsTypingThroughAndSwitchesNothingLater) {
  ASSERT_NO_FATAL_FAILURE(typeThroughAStall("keydown super key Tab keyup super key a b c"));
  expectNoLateSwitch();
}

TEST_F(TolvaneKeepsNoKeyboard, AStallDuringASessionReleasesItsGrabAndCancelsIt) {
  type("keydown super key Tab");
  ASSERT_TRUE(waitForHud(true));
  ASSERT_NO_FATAL_FAILURE(typeThroughAStall("keyup super key a b c"));
  EXPECT_TRUE(waitForHud(false));
  expectNoLateSwitch();
}

TEST_F(TolvaneKeepsNoKeyboard, WhileStoppedTypingGoesThroughAndAfterwardsNothingSwitches) {
  tolvane->signal(SIGSTOP);
  type("keydown super key Tab keyup super key a b c");
  ASSERT_TRUE(waitForTyped("abc"));
  tolvane->signal(SIGCONT);
  ASSERT_TRUE(waitForLog("keys pressed meanwhile are dropped")) << tolvane->log();
  expectNoLateSwitch();
}

TEST_F(TolvaneKeepsNoKeyboard, StoppedDuringASessionItLetsGoOfTheDisplay) {
  type("keydown super key Tab");
  ASSERT_TRUE(waitForHud(true));  // the session holds the whole keyboard
  ASSERT_NO_FATAL_FAILURE(stopAndTypeThrough("keyup super"));
}

// Alt-Space is the palette's once openbox's own binding of it is gone.
class TolvaneKeepsNoKeyboardWithThePalette : public TolvaneKeepsNoKeyboard {
 protected:
  void configureDisplay() override {
    ASSERT_TRUE(test::freeAltSpaceFromOpenbox(x, home.path()))
        << "openbox's stock rc.xml binds no A-space";
  }
  /// Opens the palette and waits until its grab holds the keyboard.
  void openPalette() {
    type("key alt+space");
    ASSERT_TRUE(waitForHud(true)) << tolvane->log();
    ASSERT_TRUE(pollUntil([&] { return keyboardTaken(); })) << tolvane->log();
  }
};

TEST_F(TolvaneKeepsNoKeyboardWithThePalette, StoppedWithThePaletteOpenItLetsGoOfTheDisplay) {
  ASSERT_NO_FATAL_FAILURE(openPalette());
  ASSERT_NO_FATAL_FAILURE(stopAndTypeThrough(""));
}

// A paused switcher holds no key of its own; the palette's grab is watched all the same.
class TolvanePausedKeepsNoKeyboard : public TolvaneKeepsNoKeyboardWithThePalette {
 protected:
  void configureDisplay() override {
    ASSERT_NO_FATAL_FAILURE(TolvaneKeepsNoKeyboardWithThePalette::configureDisplay());
    const std::string folder = home.path() + "/XDG_CONFIG_HOME/com.brenmoor.tolvane";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/preferences.json") << R"({"switcherPaused": true})";
  }
};

TEST_F(TolvanePausedKeepsNoKeyboard, AStallWithThePaletteOpenLetsTypingThrough) {
  ASSERT_TRUE(superTabIsFree()) << tolvane->log();
  ASSERT_NO_FATAL_FAILURE(openPalette());
  stall(5);
  ASSERT_TRUE(waitForLog("keyboard released")) << tolvane->log();
  type("key a b c");
  ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
  EXPECT_TRUE(stalled()) << "the text must arrive while the main thread is still blocked";
  // Back, the palette hears that its grab is gone and closes.
  EXPECT_TRUE(waitForHud(false)) << tolvane->log();
}

TEST_F(TolvaneKeepsNoKeyboard, SigtermWithTheMainThreadBlockedEndsByTheSignal) {
  type("keydown super key Tab");
  ASSERT_TRUE(waitForHud(true));
  stall(30);
  tolvane->signal(SIGTERM);
  const int status = tolvane->wait();
  tolvane->pump().drain();
  // Ended long before the stall would have: by the deadline, not by the normal quit.
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  EXPECT_EQ(tolvane->count("quit: the main thread did not get there within 2 s"), 1)
      << tolvane->log();
  type("keyup super");
  x.sync();
  EXPECT_TRUE(superTabIsFree());
}

// A tray host (trayer) runs before Tolvane starts, so Tolvane's icon docks into it (XEmbed).
class TolvaneInATray : public TolvaneOnX11 {
 protected:
  void SetUp() override {
    TolvaneOnX11::SetUp();
    x.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
             "24", "--SetDockType", "true"});
    // The host announces itself by owning the tray selection (and a MANAGER message on the
    // root, which wakes the wait).
    ASSERT_TRUE(x.waitUntil([&] { return trayOwner() != XCB_WINDOW_NONE; }));
    // The foreground the host asks icons to use (then error, warning and success colours).
    x.setValues(trayOwner(), "_NET_SYSTEM_TRAY_COLORS", "CARDINAL",
                {0x0000, 0xA0A0, 0x5050, 0xFFFF, 0, 0, 0xFFFF, 0xFFFF, 0, 0, 0xFFFF, 0});
  }
  static constexpr std::uint8_t kForeground[] = {0, 0xA0, 0x50};
  xcb_window_t trayOwner() {
    auto* reply = xcb_get_selection_owner_reply(
        x.xcb(), xcb_get_selection_owner(x.xcb(), x.atom("_NET_SYSTEM_TRAY_S0")), nullptr);
    const xcb_window_t owner = reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    std::free(reply);
    return owner;
  }
  /// Tolvane's window below `window` that is not a top-level one: its docked tray icon.
  xcb_window_t dockedIcon(xcb_window_t window, bool topLevel = true) {
    auto* tree = xcb_query_tree_reply(x.xcb(), xcb_query_tree(x.xcb(), window), nullptr);
    if (!tree) return XCB_WINDOW_NONE;
    xcb_window_t found = XCB_WINDOW_NONE;
    const auto* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
      const auto pid = x.value(children[i], "_NET_WM_PID");
      if (!topLevel && pid && *pid == static_cast<std::uint32_t>(tolvane->pid())) {
        found = children[i];
      } else {
        found = dockedIcon(children[i], false);
      }
    }
    std::free(tree);
    return found;
  }
  /// Waits until the icon is docked and shown, and answers where it is on the screen.
  std::optional<xcb_get_geometry_reply_t> iconArea() {
    xcb_window_t icon = XCB_WINDOW_NONE;
    // Docking reparents the icon away from the root, which the root's watch sees.
    if (!x.waitUntil([&] { return (icon = dockedIcon(x.root())) != XCB_WINDOW_NONE; },
                     {tolvane->pump()})) {
      return std::nullopt;
    }
    x.watch(icon);
    const auto viewable = [&] {
      auto* attributes = xcb_get_window_attributes_reply(
          x.xcb(), xcb_get_window_attributes(x.xcb(), icon), nullptr);
      const bool shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
      std::free(attributes);
      return shown;
    };
    if (!x.waitUntil(viewable, {tolvane->pump()})) return std::nullopt;
    auto* geometry = xcb_get_geometry_reply(x.xcb(), xcb_get_geometry(x.xcb(), icon), nullptr);
    auto* place = xcb_translate_coordinates_reply(
        x.xcb(), xcb_translate_coordinates(x.xcb(), icon, x.root(), 0, 0), nullptr);
    std::optional<xcb_get_geometry_reply_t> area;
    if (geometry && place) {
      area = *geometry;
      area->x = place->dst_x;
      area->y = place->dst_y;
    }
    std::free(geometry);
    std::free(place);
    return area;
  }
  /// Opens the menu with `click` (xdotool's words) on the icon and waits until it holds the
  /// keyboard; the recent windows it lists, as Tolvane logged them.
  std::string openMenu(const xcb_get_geometry_reply_t& icon, std::vector<std::string> click) {
    const std::string listed = "tray: menu lists recent windows ";
    const int before = tolvane->count(listed);
    click.insert(click.begin(), {"mousemove", std::to_string(icon.x + icon.width / 2),
                                 std::to_string(icon.y + icon.height / 2)});
    EXPECT_TRUE(test::xdotool(x, click));
    EXPECT_TRUE(waitForLog(listed, before + 1)) << tolvane->log();
    // Qt maps the menu and grabs the keyboard in one go: probing the grab only once the menu
    // is mapped keeps the probe from taking the keyboard before the menu asks for it.
    EXPECT_TRUE(x.waitUntil([&] { return test::mappedOverlay(x.xcb(), x.root()).has_value(); },
                            {tolvane->pump()}));
    EXPECT_TRUE(pollUntil([&] { return keyboardTaken(); })) << "the menu never took the keys";
    const auto& log = tolvane->log();
    const auto at = log.rfind(listed) + listed.size();
    return log.substr(at, log.find('\n', at) - at);
  }
  /// Chooses the pause entry: below "Search Windows…" and the five recent windows.
  void choosePauseEntry() { type("key Down Down Down Down Down Down Down Return"); }
};

TEST_F(TolvaneInATray, TheMenuListsTheFiveRecentTerminalsAndPausesAndResumesSwitching) {
  std::vector<xcb_window_t> terms;
  for (const char* title : {"one", "two", "three", "four", "five", "six"}) {
    const auto term = x.startXterm(title);
    ASSERT_TRUE(term);
    terms.push_back(term->windows[0]);
  }
  launch();
  for (xcb_window_t term : terms) activate(term);  // "six" is the most recent
  const auto icon = iconArea();
  ASSERT_TRUE(icon) << tolvane->log();
  // Painted in the host's foreground; no event announces painting, so each look is one round
  // trip.
  EXPECT_TRUE(pollUntil([&] {
    return test::showsColour(x.xcb(), x.root(), *icon, kForeground[0], kForeground[1],
                             kForeground[2]);
  })) << "the icon is not drawn in the tray's foreground colour";

  std::string recent;
  for (auto term = terms.rbegin(); term != terms.rbegin() + 5; ++term) {
    recent += (recent.empty() ? "" : ",") + std::to_string(*term);
  }
  EXPECT_EQ(openMenu(*icon, {"click", "3"}), recent);
  const char* artifacts = std::getenv("TOLVANE_TEST_ARTIFACTS");
  const std::string shot = std::string(artifacts ? artifacts : ".") + "/desktop-tray-menu.png";
  std::system(("import -display " + x.display() + " -window root " + shot).c_str());
  std::printf("tray menu screenshot: %s\n", shot.c_str());
  choosePauseEntry();
  ASSERT_TRUE(waitForLog("tray: switching paused")) << tolvane->log();
  ASSERT_TRUE(pollUntil([&] { return superTabIsFree(); })) << "paused, yet Super-Tab is held";
  type("keydown super key Tab keyup super");
  ASSERT_TRUE(x.syncWindowManager(nullptr, {tolvane->pump()}));
  EXPECT_EQ(x.activeWindow(), terms[5]);
  EXPECT_EQ(tolvane->count("activate pid="), 0) << tolvane->log();

  // A Control-click opens the menu too. (Another secondary click this soon after the first
  // would count as a double click, which Qt's tray icon takes for nothing.)
  openMenu(*icon, {"keydown", "ctrl", "click", "1", "keyup", "ctrl"});
  choosePauseEntry();  // now "Resume Window Switching", in the same place
  ASSERT_TRUE(waitForLog("tray: switching resumed")) << tolvane->log();
  ASSERT_TRUE(pollUntil([&] { return !superTabIsFree(); })) << tolvane->log();
  type("keydown super key Tab keyup super");
  EXPECT_TRUE(waitForActive(terms[4])) << tolvane->log();
}

TEST_F(TolvaneOnX11, WithoutATrayHostItSwitchesAndSaysSoOnce) {
  const auto one = x.startXterm("one");
  const auto two = x.startXterm("two");
  ASSERT_TRUE(one && two);
  launch();
  activate(one->windows[0]);
  activate(two->windows[0]);
  type("keydown super key Tab keyup super");
  ASSERT_TRUE(waitForActive(one->windows[0])) << tolvane->log();
  EXPECT_EQ(tolvane->count("tray: no tray host;"), 1) << tolvane->log();
}

TEST_F(TolvaneOnX11, WithoutAWindowManagerItSaysSoOnce) {
  test::XSession bare;
  ASSERT_TRUE(bare.start(false)) << bare.error();
  tolvane = std::make_unique<test::TolvaneProcess>(TOLVANE_EXECUTABLE, bare.display(), home.path());
  ASSERT_TRUE(bare.waitUntil([&] { return tolvane->count("window snapshot warmed") > 0; },
                             {tolvane->pump()}));
  EXPECT_EQ(tolvane->count("no EWMH window manager runs on display"), 1) << tolvane->log();
}

TEST_F(TolvaneOnX11, NoKeyStaysGrabbedAfterTheProcessEnds) {
  ASSERT_TRUE(x.startXterm("one"));
  for (int signal : {SIGTERM, SIGKILL}) {
    launch();
    EXPECT_FALSE(superTabIsFree()) << "Tolvane holds Super-Tab while it runs";
    tolvane->signal(signal);
    const int status = tolvane->wait();
    if (signal == SIGTERM) {
      // The normal quit path: the application ends itself, with status 0.
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n"
                                                                 << tolvane->log();
    } else {
      EXPECT_TRUE(WIFSIGNALED(status));
    }
    x.sync();
    EXPECT_TRUE(superTabIsFree()) << "after signal " << signal;
  }
}

TEST_F(TolvaneOnX11, LosingTheDisplayEndsTolvaneWithAClearMessage) {
  ASSERT_TRUE(x.startXterm("one"));
  launch();
  x.killServer();
  const int status = tolvane->wait();
  tolvane->pump().drain();
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n"
                                 << tolvane->log();
  EXPECT_EQ(tolvane->count("the X display went away"), 1) << tolvane->log();
}

}  // namespace
}  // namespace tolvane
