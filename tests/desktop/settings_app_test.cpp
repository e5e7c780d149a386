// The real `tolvane`'s settings window and guide on a private display with openbox: the pause
// switch clicked as a user clicks it, a language chosen by editing the settings file by hand,
// the guide at the first launch only, and pictures of every page.
#include <xcb/xcb.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/tolvane_desktop.h"

namespace tolvane::test {
namespace {

using Json = nlohmann::json;

const char* const kTabs[] = {"general", "switcher", "privacy", "permissions", "account", "about"};

/// A text of a string table as the application shows it.
std::string tableText(const std::string& language, const std::string& key) {
  std::ifstream in(std::string(TOLVANE_SOURCE_DIR) + "/src/localization/tables/" + language +
                   ".json");
  const Json table = Json::parse(in, nullptr, false);
  return table.is_object() && table.contains(key) ? table[key].get<std::string>() : key;
}

class SettingsInTolvane : public TolvaneDesktopTest {
 protected:
  std::string preferencesPath() const {
    return home.path() + "/XDG_CONFIG_HOME/com.brenmoor.tolvane/preferences.json";
  }
  /// What the user does in an editor: the file replaced with one more value.
  void editPreferences(const std::string& key, const Json& value) {
    std::ifstream in(preferencesPath());
    Json json = Json::parse(in, nullptr, false);
    ASSERT_TRUE(json.is_object());
    json[key] = value;
    const std::string edited = preferencesPath() + ".edit";
    std::ofstream(edited) << json.dump(2);
    std::filesystem::rename(edited, preferencesPath());
  }
  /// Opens the settings window by URL and waits until it is the active window with `title`.
  xcb_window_t openSettings(const std::string& title = "Tolvane Settings") {
    const int before = tolvane->count("settings shown: visible=true");
    EXPECT_EQ(tolvane->sendURL("tolvane://settings"), 0);
    EXPECT_TRUE(waitForLog("settings shown: visible=true", before + 1)) << tolvane->log();
    return windowTitledWhenShown(title);
  }
  xcb_window_t windowTitledWhenShown(const std::string& title) {
    std::vector<xcb_window_t> shown;
    const bool found =
        x.waitUntil([&] { return (shown = windowsTitled(x, tolvane->pid(), title)).size() == 1; },
                    {tolvane->pump()});
    EXPECT_TRUE(found) << title << "\n" << tolvane->log();
    return found ? shown[0] : xcb_window_t{XCB_WINDOW_NONE};
  }
  /// Clicks the centre of the widget of Tolvane's named `name`, as a user would.
  void click(const std::string& name) {
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
  /// Whether Tolvane shows the widget named `name` now.
  bool shows(const std::string& name) {
    const int found = tolvane->count("test hook: located " + name + " ");
    const int missing = tolvane->count("test hook: " + name + " not found");
    EXPECT_EQ(tolvane->sendURL("tolvane://test-locate?name=" + name), 0);
    x.waitUntil(
        [&] {
          return tolvane->count("test hook: located " + name + " ") > found ||
                 tolvane->count("test hook: " + name + " not found") > missing;
        },
        {tolvane->pump()});
    return tolvane->count("test hook: located " + name + " ") > found;
  }
  /// Every page, one picture each, named after the language and the tab.
  void photographEveryPage(const std::string& language) {
    for (const char* tab : kTabs) {
      ASSERT_NO_FATAL_FAILURE(click(std::string("tab:") + tab));
      ASSERT_TRUE(pollUntil([&] { return shows(std::string("page:") + tab); })) << tab;
      saveScreenshot(x, "settings-" + language + "-" + tab + ".png");
    }
  }
};

TEST_F(SettingsInTolvane, ThePauseSwitchLetsGoOfSuperTabAndTakesItBack) {
  const auto first = x.startXterm("first");
  const auto second = x.startXterm("second");
  ASSERT_TRUE(first && second);
  launch();
  activate(first->windows[0]);
  activate(second->windows[0]);
  const xcb_window_t settings = openSettings();
  ASSERT_TRUE(waitForActive(settings)) << tolvane->log();
  ASSERT_NO_FATAL_FAILURE(click("tab:privacy"));
  ASSERT_NO_FATAL_FAILURE(click("control:priv.pause"));
  ASSERT_TRUE(pollUntil([&] { return superTabIsFree(); })) << "paused, yet Super-Tab is held";
  type("keydown super key Tab keyup super");
  ASSERT_TRUE(x.syncWindowManager(nullptr, {tolvane->pump()}));
  EXPECT_EQ(x.activeWindow(), settings) << "paused: Super-Tab switches nothing";

  ASSERT_NO_FATAL_FAILURE(click("control:priv.pause"));
  ASSERT_TRUE(pollUntil([&] { return !superTabIsFree(); })) << tolvane->log();
  // Tolvane's own window is not listed: the switch goes to one of the terminals.
  type("keydown super key Tab keyup super");
  EXPECT_TRUE(x.waitUntil(
      [&] {
        const xcb_window_t active = x.activeWindow();
        return active == first->windows[0] || active == second->windows[0];
      },
      {tolvane->pump()}))
      << tolvane->log();
}

TEST_F(SettingsInTolvane, ALanguageWrittenIntoTheFileByHandRelabelsTheOpenWindow) {
  launch();
  openSettings();
  ASSERT_NO_FATAL_FAILURE(photographEveryPage("en"));
  editPreferences("languageCode", "de");
  const std::string german = tableText("de", "settings.windowTitle");
  ASSERT_NE(german, "Tolvane Settings");
  ASSERT_NE(windowTitledWhenShown(german), XCB_WINDOW_NONE);
  ASSERT_NO_FATAL_FAILURE(photographEveryPage("de"));
  // The rest of the file is as the user left it, and Tolvane keeps it.
  std::ifstream in(preferencesPath());
  EXPECT_EQ(Json::parse(in, nullptr, false).value("languageCode", ""), "de");
}

TEST_F(SettingsInTolvane, TheGuideGreetsAFirstLaunchOnly) {
  firstLaunch = true;
  launch();
  const xcb_window_t guide = windowTitledWhenShown("Getting Started Guide");
  ASSERT_NE(guide, XCB_WINDOW_NONE);
  saveScreenshot(x, "onboarding-welcome.png");
  // Closed by the user with the window manager's close button.
  x.sendRootMessage(guide, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2});
  ASSERT_TRUE(pollUntil([&] {
    std::ifstream in(preferencesPath());
    return Json::parse(in, nullptr, false).value("onboardingCompleted", false);
  })) << tolvane->log();
  waitForExit(SIGTERM);

  launch();
  EXPECT_TRUE(windowsTitled(x, tolvane->pid(), "Getting Started Guide").empty());
  EXPECT_EQ(tolvane->count("onboarding: shown"), 0) << tolvane->log();
}

}  // namespace
}  // namespace tolvane::test
