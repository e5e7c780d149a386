// Launching, typing and waiting for the tests of the real `tolvane`.
#include "desktop/support/tolvane_desktop.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"

namespace tolvane::test {

void TolvaneDesktopTest::SetUp() {
  ASSERT_NO_FATAL_FAILURE(configureDisplay());
  ASSERT_TRUE(x.start(withWindowManager)) << x.error();
  x.watch(x.root());
}

void TolvaneDesktopTest::freeAltSpace() {
  ASSERT_TRUE(freeAltSpaceFromOpenbox(x, home.path())) << "openbox's stock rc.xml binds no A-space";
}

void TolvaneDesktopTest::writePreferences(const std::string& json) {
  const std::string folder = home.path() + "/XDG_CONFIG_HOME/com.brenmoor.tolvane";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/preferences.json") << json;
}

void TolvaneDesktopTest::markGuideFinished() {
  const std::string path = home.path() + "/XDG_CONFIG_HOME/com.brenmoor.tolvane/preferences.json";
  std::ifstream in(path);
  auto json = nlohmann::json::parse(in, nullptr, false);
  if (!json.is_object()) json = nlohmann::json::object();
  if (json.contains("onboardingCompleted")) return;
  json["onboardingCompleted"] = true;
  writePreferences(json.dump());
}

void TolvaneDesktopTest::launch() {
  if (!firstLaunch) markGuideFinished();
  tolvane =
      std::make_unique<TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(), home.path(), environment);
  ASSERT_TRUE(waitForLog("window snapshot warmed")) << tolvane->log();
}

void TolvaneDesktopTest::type(const std::string& keys) {
  std::vector<std::string> args;
  std::istringstream words(keys);
  for (std::string word; words >> word;) args.push_back(word);
  ASSERT_TRUE(xdotool(x, args));
}

bool TolvaneDesktopTest::waitForLog(const std::string& text, int times) {
  return x.waitUntil([&] { return tolvane->count(text) >= times; }, {tolvane->pump()});
}

void TolvaneDesktopTest::activate(xcb_window_t window) {
  if (x.activeWindow() == window) return;  // Tolvane took it from the stacking at launch
  const std::string seen = "x11: focus " + std::to_string(window) + "\n";
  const int before = tolvane->count(seen);
  x.sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
  ASSERT_TRUE(waitForActive(window));
  ASSERT_TRUE(waitForLog(seen, before + 1)) << tolvane->log();
}

bool TolvaneDesktopTest::waitForActive(xcb_window_t window) {
  return x.waitUntil([&] { return x.activeWindow() == window; }, {tolvane->pump()});
}

std::optional<xcb_get_geometry_reply_t> TolvaneDesktopTest::panel() {
  return mappedOverlay(x.xcb(), x.root());
}

bool TolvaneDesktopTest::waitForPanel(bool shown) {
  return x.waitUntil([&] { return panel().has_value() == shown; }, {tolvane->pump()});
}

bool TolvaneDesktopTest::keyboardTaken() {
  return grabKeyboardStatus(x) == XCB_GRAB_STATUS_ALREADY_GRABBED;
}

bool TolvaneDesktopTest::superTabIsFree() {
  constexpr xcb_keycode_t kTab = 23;  // in Xvfb's default keymap
  return comboIsFree(x, kTab, XCB_MOD_MASK_4);
}

bool TolvaneDesktopTest::pollUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + XSession::kBound;
  while (std::chrono::steady_clock::now() < deadline) {
    tolvane->pump().drain();
    if (done()) return true;
  }
  return false;
}

int TolvaneDesktopTest::waitForExit(int signal) {
  if (signal != 0) tolvane->signal(signal);
  const int status = tolvane->wait();
  tolvane->pump().drain();
  return status;
}

}  // namespace tolvane::test
