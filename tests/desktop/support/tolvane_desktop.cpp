// Preparing the desktop, launching, typing and waiting for the tests of the real `tolvane`.
#include "desktop/support/tolvane_desktop.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "backends/x11/x11_connection.h"
#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"

#ifndef TOLVANE_TEST_CLIENT
#define TOLVANE_TEST_CLIENT ""
#endif

namespace tolvane::test {

using x11::Reply;

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
    const auto owner = [&] {
      const Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
          x.xcb(), xcb_get_selection_owner(x.xcb(), x.atom("_NET_SYSTEM_TRAY_S0")), nullptr));
      return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    };
    ASSERT_TRUE(x.waitUntil([&] { return owner() != XCB_WINDOW_NONE; }));
    // The foreground the host asks icons to use (then error, warning and success colours).
    x.setValues(owner(), "_NET_SYSTEM_TRAY_COLORS", "CARDINAL",
                {0x0000, 0xA0A0, 0x5050, 0xFFFF, 0, 0, 0xFFFF, 0xFFFF, 0, 0, 0xFFFF, 0});
  }
  for (const auto& title : desk.windows) {
    const auto client = title == "typing" ? startTypingRecorder(x, typed, title)
                        : title == "client"
                            ? x.startClient({TOLVANE_TEST_CLIENT, "left", "right"}, 2)
                            : x.startXterm(title);
    ASSERT_TRUE(client) << title;
    for (std::size_t i = 0; i < client->windows.size(); ++i) {
      name(client->windows.size() > 1 ? title + "." + std::to_string(i) : title,
           client->windows[i]);
    }
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
  tolvane = std::make_unique<TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(),
                                             (on ? on : &home)->path(), environment);
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

void TolvaneDesktop::type(const std::string& keys) {
  std::vector<std::string> args;
  std::istringstream words(expand(keys));
  for (std::string word; words >> word;) args.push_back(word);
  ASSERT_TRUE(xdotool(x, args));
}

bool TolvaneDesktop::waitForLog(const std::string& text, int times) {
  return x.waitUntil([&] { return tolvane->count(text) >= times; }, {tolvane->pump()});
}

void TolvaneDesktop::activate(xcb_window_t window) {
  if (x.activeWindow() == window) return;  // Tolvane took it from the stacking at launch
  const std::string seen = "x11: focus " + std::to_string(window) + "\n";
  const int before = tolvane->count(seen);
  x.sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
  ASSERT_TRUE(waitForActive(window));
  ASSERT_TRUE(waitForLog(seen, before + 1)) << tolvane->log();
}

bool TolvaneDesktop::waitForActive(xcb_window_t window) {
  return x.waitUntil([&] { return x.activeWindow() == window; }, {tolvane->pump()});
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

bool TolvaneDesktop::waitForPanel(bool shown) {
  return x.waitUntil([&] { return panel().has_value() == shown; }, {tolvane->pump()});
}

void TolvaneDesktop::openPalette(const std::string& hotKey) {
  const int grabs = grabs_;
  type("key " + hotKey);
  ASSERT_TRUE(x.waitUntil([&] { return grabs_ > grabs && panel(); }, {tolvane->pump()}))
      << tolvane->log();
}

bool TolvaneDesktop::keyboardTaken() {
  return grabKeyboardStatus(x) == XCB_GRAB_STATUS_ALREADY_GRABBED;
}

bool TolvaneDesktop::pollUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + XSession::kBound;
  while (std::chrono::steady_clock::now() < deadline) {
    tolvane->pump().drain();
    if (done()) return true;
  }
  return false;
}

int TolvaneDesktop::waitForExit(int signal) {
  if (signal != 0) tolvane->signal(signal);
  const int status = tolvane->wait();
  tolvane->pump().drain();
  return status;
}

xcb_window_t TolvaneDesktop::windowTitledWhenShown(const std::string& title) {
  std::vector<xcb_window_t> shown;
  const bool found =
      x.waitUntil([&] { return (shown = windowsTitled(x, tolvane->pid(), title)).size() == 1; },
                  {tolvane->pump()});
  EXPECT_TRUE(found) << title << "\n" << tolvane->log();
  return found ? shown[0] : xcb_window_t{XCB_WINDOW_NONE};
}

void TolvaneDesktop::clickWidget(const std::string& name) {
  const std::string located = "test hook: located " + name + " at ";
  const int before = tolvane->count(located);
  ASSERT_EQ(tolvane->sendURL("tolvane://test-locate?name=" + name), 0);
  ASSERT_TRUE(waitForLog(located, before + 1)) << tolvane->log();
  const auto& log = tolvane->log();
  const auto at = log.rfind(located) + located.size();
  const std::string place = log.substr(at, log.find('\n', at) - at);
  const auto comma = place.find(',');
  ASSERT_TRUE(
      xdotool(x, {"mousemove", place.substr(0, comma), place.substr(comma + 1), "click", "1"}));
}

bool TolvaneDesktop::showsWidget(const std::string& name) {
  const std::string found = "test hook: located " + name + " ";
  const std::string missing = "test hook: " + name + " not found";
  const int before = tolvane->count(found), absent = tolvane->count(missing);
  EXPECT_EQ(tolvane->sendURL("tolvane://test-locate?name=" + name), 0);
  x.waitUntil([&] { return tolvane->count(found) > before || tolvane->count(missing) > absent; },
              {tolvane->pump()});
  return tolvane->count(found) > before;
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

std::optional<xcb_get_geometry_reply_t> TolvaneDesktop::trayIcon() {
  xcb_window_t icon = XCB_WINDOW_NONE;
  // Docking reparents the icon away from the root, which the root's watch sees.
  if (!x.waitUntil([&] { return (icon = dockedIcon(x.root(), true)) != XCB_WINDOW_NONE; },
                   {tolvane->pump()})) {
    return std::nullopt;
  }
  x.watch(icon);
  const auto viewable = [&] {
    const Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        x.xcb(), xcb_get_window_attributes(x.xcb(), icon), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  };
  if (!x.waitUntil(viewable, {tolvane->pump()})) return std::nullopt;
  const Reply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(x.xcb(), xcb_get_geometry(x.xcb(), icon), nullptr));
  const Reply<xcb_translate_coordinates_reply_t> place(xcb_translate_coordinates_reply(
      x.xcb(), xcb_translate_coordinates(x.xcb(), icon, x.root(), 0, 0), nullptr));
  if (!geometry || !place) return std::nullopt;
  xcb_get_geometry_reply_t area = *geometry;
  area.x = place->dst_x;
  area.y = place->dst_y;
  return area;
}

std::string TolvaneDesktop::openTrayMenu(const std::string& click) {
  const auto icon = trayIcon();
  EXPECT_TRUE(icon) << tolvane->log();
  if (!icon) return {};
  const std::string listed = "tray: menu lists recent windows ";
  const int before = tolvane->count(listed);
  type("mousemove " + std::to_string(icon->x + icon->width / 2) + " " +
       std::to_string(icon->y + icon->height / 2) + " " + click);
  EXPECT_TRUE(waitForLog(listed, before + 1)) << tolvane->log();
  // Qt maps the menu and grabs the keyboard in one go: probing the grab only once the menu is
  // mapped keeps the probe from taking the keyboard before the menu asks for it.
  EXPECT_TRUE(waitForPanel(true));
  EXPECT_TRUE(pollUntil([&] { return keyboardTaken(); })) << "the menu never took the keys";
  const auto& log = tolvane->log();
  const auto at = log.rfind(listed) + listed.size();
  return log.substr(at, log.find('\n', at) - at);
}

bool TolvaneDesktop::waitForTyped(const std::string& text) {
  return x.waitUntil([&] { return typed.text().find(text) != std::string::npos; },
                     {typed.pump(), tolvane->pump()});
}

}  // namespace tolvane::test
