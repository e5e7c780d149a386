// Preparing the desktop, launching, typing and waiting for the tests of the real `tolvane`.
#include "desktops/x11/support/tolvane_desktop.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "backends/x11/x11_connection.h"
#include "desktops/x11/support/overlay.h"
#include "support/x11/desktop_tools.h"

namespace tolvane::test {

using Json = nlohmann::json;
using x11::Reply;

namespace {

// The selected row's accent.
constexpr std::uint32_t kAccent = 0x0a84ff;
constexpr xcb_keycode_t kTab = 23, kSpace = 65;  // in Xvfb's default keymap

/// "key=value" as its two halves.
std::pair<std::string, std::string> split(const std::string& text) {
  const auto at = text.find('=');
  return {text.substr(0, at), at == std::string::npos ? "" : text.substr(at + 1)};
}

Json readPreferences(const std::string& path) {
  std::ifstream in(path);
  return Json::parse(in, nullptr, false);
}

}  // namespace

// The recorder on the settings window's switcher page, as a user finds it. A key without a
// modifier beeps and recording goes on.
const Steps kRecordCtrlShiftK = {"url tolvane://settings",
                                 "window settings=Tolvane Settings",
                                 "focused settings",
                                 "widget tab:switcher",
                                 "shows control:sw.hotkeySearch",
                                 "widget control:sw.hotkeySearch",
                                 "keys key k ctrl+shift+k",
                                 "log palette hotkey registered keyCode=40 modifiers=4608",
                                 "count:1 palette hotkey registered keyCode=40 modifiers=4608"};

TolvaneDesktop::TolvaneDesktop() {
  addActions();
  addWaits();
  addChecks();
}

TolvaneDesktop::~TolvaneDesktop() {
  tolvane.reset();
  convertScreenshots();
}

void TolvaneDesktop::prepare(const Desk& desk) {
  if (desk.freeAltSpace) {
    ASSERT_TRUE(freeAltSpaceFromOpenbox(x, home.path())) << "openbox's rc.xml binds no A-space";
  }
  if (!desk.preferences.empty()) writePreferences(desk.preferences);
  firstLaunch_ = desk.firstLaunch;
  ASSERT_TRUE(x.start(desk.windowManager)) << x.error();
  x.watch(x.root());
  x.observeEvents([this](const xcb_generic_event_t& event) {
    if (keyboardGrabbedForPanel(event, x.root())) ++grabs_;
  });
  if (desk.tray) {
    x.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
             "24", "--SetDockType", "true"});
    // The host announces itself by owning the tray selection (and a MANAGER message on the
    // root, which wakes the wait).
    ASSERT_TRUE(x.waitUntil([&] {
      const Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
          x.xcb(), xcb_get_selection_owner(x.xcb(), x.atom("_NET_SYSTEM_TRAY_S0")), nullptr));
      return reply && reply->owner != XCB_WINDOW_NONE;
    }));
  }
  for (const auto& title : desk.windows) {
    // The typing terminal copies what it is typed into a FIFO, without line editing or echo.
    const auto client =
        title == "typing"
            ? x.startClient({"xterm", "-T", title, "-e", "sh", "-c",
                             "stty -icanon -echo min 1; exec cat > " + home.path() + "/typed"})
            : x.startXterm(title);
    ASSERT_TRUE(client) << title;
    name(title, client->windows.front());
  }
}

std::string TolvaneDesktop::preferencesPath(const TempDir* on) const {
  return (on ? on : &home)->path() + "/XDG_CONFIG_HOME/com.brenmoor.tolvane/preferences.json";
}

void TolvaneDesktop::writePreferences(const std::string& json) {
  std::filesystem::create_directories(std::filesystem::path(preferencesPath()).parent_path());
  std::ofstream(preferencesPath()) << json;
}

void TolvaneDesktop::launch(const TempDir* on) {
  if (!firstLaunch_ && !on) {
    std::ifstream in(preferencesPath());
    auto json = nlohmann::json::parse(in, nullptr, false);
    if (!json.is_object()) json = nlohmann::json::object();
    if (!json.contains("onboardingCompleted")) {
      json["onboardingCompleted"] = true;
      writePreferences(json.dump());
    }
  }
  Environment display = environment;
  display.emplace_back("DISPLAY", x.display());
  tolvane =
      std::make_unique<TolvaneProcess>(TOLVANE_EXECUTABLE, (on ? on : &home)->path(), display);
  ASSERT_TRUE(waitForLog("window snapshot warmed")) << tolvane->log();
}

std::string TolvaneDesktop::expand(const std::string& text) const {
  std::string result = text;
  for (const auto& [name, window] : windows) {
    const std::string key = "{" + name + "}";
    for (auto at = result.find(key); at != std::string::npos; at = result.find(key)) {
      result.replace(at, key.size(), std::to_string(window));
    }
  }
  return result;
}

bool TolvaneDesktop::typeKeys(const std::string& keys) {
  const auto args = words(expand(keys));
  return args.empty() || xdotool(x, args);
}

bool TolvaneDesktop::waitForLog(const std::string& text, int times) {
  return wait([&] { return tolvane->count(expand(text)) >= times; });
}

void TolvaneDesktop::focusWindow(const std::string& name) {
  const xcb_window_t window = at(name);
  if (x.activeWindow() == window) return;  // Tolvane took it from the stacking at launch
  const std::string seen = "x11: focus " + std::to_string(window) + "\n";
  const int before = tolvane->count(seen);
  x.sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
  ASSERT_TRUE(waitForActive(window));
  ASSERT_TRUE(waitForLog(seen, before + 1)) << tolvane->log();
}

// It may name none for a moment while focus returns from a grab.
bool TolvaneDesktop::staysFocused(const std::string& window) {
  return x.syncWindowManager(nullptr, {tolvane->pump()}) && waitForActive(at(window));
}

void TolvaneDesktop::closeWindow(const std::string& window) {
  x.sendRootMessage(at(window), "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2});
}

std::optional<Picture> TolvaneDesktop::takePicture(const std::string& name) {
  saveScreenshot(x, name);
  return Picture{};
}

std::string TolvaneDesktop::describe() {
  return "active: " + std::to_string(x.activeWindow()) + "\n" + tolvane->log();
}

bool TolvaneDesktop::waitForActive(xcb_window_t window) {
  return wait([&] { return x.activeWindow() == window; });
}

void TolvaneDesktop::name(const std::string& name, xcb_window_t window) {
  windows[name] = window;
  x.watch(window);
  // The selection holds before anything the test sends next reaches the server.
  x.sync();
}

std::optional<xcb_get_geometry_reply_t> TolvaneDesktop::panel() {
  return mappedOverlay(x.xcb(), x.root());
}

bool TolvaneDesktop::pollUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + XSession::kBound;
  while (std::chrono::steady_clock::now() < deadline) {
    tolvane->pump().drain();
    if (done()) return true;
  }
  return false;
}

std::optional<int> TolvaneDesktop::waitForEnd() {
  if (!x.waitUntil([&] { return tolvane->ended(); }, {tolvane->pump(), tolvane->end()})) {
    return std::nullopt;
  }
  return tolvane->status();
}

std::optional<std::string> TolvaneDesktop::locateWidget(const std::string& name) {
  const std::string found = "test hook: located " + name + " at ";
  const std::string missing = "test hook: " + name + " not found";
  const int before = tolvane->count(found), absent = tolvane->count(missing);
  EXPECT_EQ(tolvane->sendURL("tolvane://test-locate?name=" + name), 0);
  wait([&] { return tolvane->count(found) > before || tolvane->count(missing) > absent; });
  if (tolvane->count(found) == before) return std::nullopt;
  return tolvane->logAfter(found);
}

xcb_window_t TolvaneDesktop::dockedIcon(xcb_window_t below, bool topLevel) {
  const Reply<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(x.xcb(), xcb_query_tree(x.xcb(), below), nullptr));
  if (!tree) return XCB_WINDOW_NONE;
  xcb_window_t found = XCB_WINDOW_NONE;
  const auto* children = xcb_query_tree_children(tree.get());
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()) && !found; ++i) {
    const auto pid = x.value(children[i], "_NET_WM_PID");
    if (!topLevel && pid && *pid == static_cast<std::uint32_t>(tolvane->pid())) {
      found = children[i];
    } else {
      found = dockedIcon(children[i], false);
    }
  }
  return found;
}

xcb_window_t TolvaneDesktop::trayIcon() {
  xcb_window_t icon = XCB_WINDOW_NONE;
  // Docking reparents the icon away from the root, which the root's watch sees.
  if (!wait([&] { return (icon = dockedIcon(x.root(), true)) != XCB_WINDOW_NONE; })) {
    return XCB_WINDOW_NONE;
  }
  x.watch(icon);
  const auto viewable = [&] {
    const Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        x.xcb(), xcb_get_window_attributes(x.xcb(), icon), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  };
  // Docking widens the tray, which the window manager then moves along the screen's edge: the
  // icon's place holds once it has handled that.
  const bool placed = wait(viewable) && x.syncWindowManager(nullptr, {tolvane->pump()});
  return placed ? icon : xcb_window_t{XCB_WINDOW_NONE};
}

std::string TolvaneDesktop::openTrayMenu(const std::string& click) {
  const xcb_window_t icon = trayIcon();
  const Reply<xcb_get_geometry_reply_t> size(
      xcb_get_geometry_reply(x.xcb(), xcb_get_geometry(x.xcb(), icon), nullptr));
  EXPECT_TRUE(size) << tolvane->log();
  if (!size) return {};
  const std::string listed = "tray: menu lists recent windows ";
  const int before = tolvane->count(listed), grabs = grabs_;
  // Relative to the icon: wherever the tray holds it when the pointer moves.
  EXPECT_TRUE(typeKeys("mousemove --window " + std::to_string(icon) + " " +
                       std::to_string(size->width / 2) + " " + std::to_string(size->height / 2) +
                       " " + click));
  EXPECT_TRUE(waitForLog(listed, before + 1)) << tolvane->log();
  // The grab is awaited by the focus it takes, never probed: a probe's own grab of the keyboard,
  // taken between the menu's map and its grab, makes Qt's grab fail.
  EXPECT_TRUE(wait([&] { return grabs_ > grabs && panel(); })) << "the menu never took the keys\n"
                                                               << tolvane->log();
  return tolvane->logAfter(listed);
}

bool TolvaneDesktop::waitForTyped(const std::string& text, std::chrono::milliseconds) {
  return x.waitUntil([&] { return typed.text().find(text) != std::string::npos; },
                     {typed.source(), tolvane->pump()});
}

xcb_window_t TolvaneDesktop::at(const std::string& name) const {
  const auto found = windows.find(name);
  return found == windows.end() ? xcb_window_t{XCB_WINDOW_NONE} : found->second;
}

// What the user and the desktop do.
void TolvaneDesktop::addActions() {
  verbs_["url"] = [this](const Step& s) { ASSERT_EQ(tolvane->sendURL(s.arg), 0); };
  // Blocks Tolvane's main thread for n seconds, and with "released" then until "release".
  verbs_["stall"] = [this](const Step& s) {
    const std::string url = "tolvane://test-stall?seconds=" + std::to_string(s.n);
    ASSERT_EQ(tolvane->sendURL(url + (s.arg == "released" ? "&until=released" : "")), 0);
    ASSERT_TRUE(waitForLog("test hook: the main thread stalls")) << tolvane->log();
  };
  verbs_["toDesktop"] = [this](const Step& s) {
    const auto desktop = static_cast<std::uint32_t>(s.n);
    x.sendRootMessage(at(s.arg), "_NET_WM_DESKTOP", {desktop, 2});
    const auto moved = [&](const auto& v) { return v && !v->empty() && (*v)[0] == desktop; };
    ASSERT_TRUE(x.waitForProperty(at(s.arg), "_NET_WM_DESKTOP", moved, {tolvane->pump()}));
  };
  verbs_["killDisplay"] = [this](const Step&) { x.killServer(); };
  // "key=json": the settings file changed in an editor.
  verbs_["edit"] = [this](const Step& s) {
    const auto [key, value] = split(s.arg);
    Json json = readPreferences(preferencesPath());
    ASSERT_TRUE(json.is_object());
    json[key] = Json::parse(value);
    std::ofstream(preferencesPath() + ".edit") << json.dump(2);
    std::filesystem::rename(preferencesPath() + ".edit", preferencesPath());
  };
  // Clicks the centre of Tolvane's widget of that name, as a user would.
  verbs_["widget"] = [this](const Step& s) {
    const auto place = locateWidget(s.arg);
    ASSERT_TRUE(place) << s.arg << "\n" << tolvane->log();
    const auto comma = place->find(',');
    ASSERT_TRUE(
        xdotool(x, {"mousemove", place->substr(0, comma), place->substr(comma + 1), "click", "1"}));
  };
  // Opens the tray menu with a click (xdotool's words) on the icon.
  verbs_["trayMenu"] = [this](const Step& s) { menu_ = openTrayMenu(s.arg); };
  // Types the hot key until the palette shows and its grab holds the keyboard.
  verbs_["palette"] = [this](const Step& s) {
    const int grabs = grabs_;
    ASSERT_TRUE(typeKeys("key " + (s.arg.empty() ? "alt+space" : s.arg)));
    ASSERT_TRUE(wait([&] { return grabs_ > grabs && panel(); })) << tolvane->log();
  };
}

// What Tolvane and the window manager do in answer, waited for.
void TolvaneDesktop::addWaits() {
  // A panel shows (n 1) or is gone (n 0); "WxH" or "xH" checks its size.
  verbs_["panel"] = [this](const Step& s) {
    ASSERT_TRUE(wait([&] { return panel().has_value() == (s.n == 1); })) << tolvane->log();
    const auto shown = panel();
    if (s.arg.empty() || !shown) return;
    const std::string width = s.arg[0] == 'x' ? "" : std::to_string(shown->width);
    EXPECT_EQ(width + "x" + std::to_string(shown->height), s.arg);
  };
  // Mapped is not yet painted: the panel is read until the accent shows; "text": as text or a
  // thin mark only, not as a filled band.
  verbs_["accent"] = [this](const Step& s) {
    EXPECT_TRUE(pollUntil([&] {
      const auto shown = panel();
      return shown && showsColour(x.xcb(), x.root(), *shown, kAccent, s.arg == "text");
    })) << "no accent";
  };
  verbs_["keyboard"] = [this](const Step& s) {
    const auto taken = [&] { return grabKeyboardStatus(x) == XCB_GRAB_STATUS_ALREADY_GRABBED; };
    EXPECT_TRUE(pollUntil([&] { return taken() == (s.n == 1); })) << tolvane->log();
  };
  // Tolvane holds Super-Tab (n 1) or has let go of it (n 0).
  verbs_["superTab"] = [this](const Step& s) {
    const auto held = [&] { return !comboIsFree(x, kTab, XCB_MOD_MASK_4); };
    EXPECT_TRUE(pollUntil([&] { return held() == (s.n == 1); })) << tolvane->log();
  };
  // "name=title": Tolvane's one window of that title, named.
  verbs_["window"] = [this](const Step& s) {
    const auto [key, title] = split(s.arg);
    std::vector<xcb_window_t> shown;
    // clang 14 cannot capture a structured binding; the init-capture copies it instead.
    ASSERT_TRUE(wait([&, title = title] {
      return (shown = windowsTitled(x, tolvane->pid(), title)).size() == 1;
    })) << title
        << "\n"
        << tolvane->log();
    name(key, shown[0]);
  };
  // "key=json": the settings file holds it.
  verbs_["stored"] = [this](const Step& s) {
    const auto [key, value] = split(s.arg);
    // clang 14 cannot capture structured bindings in a lambda; named copies it can.
    const std::string setting = key, expected = value;
    EXPECT_TRUE(pollUntil([&] {
      return readPreferences(preferencesPath()).value(setting, Json()) == Json::parse(expected);
    })) << s.arg
        << "\n"
        << tolvane->log();
  };
  // The login entry written at the first launch starts the program a user starts: the front
  // door, never the desktop program behind it.
  verbs_["autostart"] = [this](const Step&) {
    std::ifstream entry(home.path() + "/XDG_CONFIG_HOME/autostart/com.brenmoor.tolvane.desktop");
    std::string line;
    while (std::getline(entry, line) && !line.starts_with("Exec=")) {
    }
    EXPECT_EQ(line, "Exec=" + std::filesystem::canonical(TOLVANE_EXECUTABLE).string());
  };
  verbs_["shows"] = [this](const Step& s) {
    EXPECT_TRUE(pollUntil([&] { return locateWidget(s.arg).has_value(); })) << s.arg;
  };
}

// What holds now.
void TolvaneDesktop::addChecks() {
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
}

}  // namespace tolvane::test
