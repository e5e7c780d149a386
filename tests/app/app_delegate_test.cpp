// Launch and quit of the whole application on the simulated desktop: the order of start-up,
// the warm-up before the switcher takes the keyboard, the tray and windows, and the restore at
// quit.
#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include "backends/sim/sim_described_window.h"
#include "backends/sim/sim_hot_keys.h"
#include "backends/sim/sim_http_client.h"
#include "backends/sim/sim_status_item.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;

class AppDelegateTest : public ::testing::Test, protected test::SimServices {
 protected:
  AppDelegateTest() {
    desktop.addApp({.pid = 100, .localizedName = "Editor", .bundleID = "org.example.editor"});
    desktop.addWindow({.number = 11, .pid = 100});
    desktop.addWindow({.number = 12, .pid = 100});
    desktop.setFrontmost(100);
    for (std::int32_t key : {1, 2, 6}) desktop.seedHotKey(key, false);  // a crashed run's state
    services = {.clock = &clock,
                .runLoop = &loop,
                .files = &files,
                .paths = {.configHome = temp.path() + "/config", .dataHome = temp.path() + "/data"},
                .system = &system,
                .random = &random,
                .preferences = &preferences,
                .loginItems = &loginItems,
                .systemLog = &systemLog,
                .http = &http,
                .workspace = &desktop,
                .accessibility = &desktop,
                .windowServer = &desktop,
                .eventTap = &tap,
                .hotKeys = &paletteKeys,
                .screens = &screens,
                .switcherPanel = &panel,
                .palettePanel = &palettePanel,
                .statusItem = &statusItem,
                .settingsWindow = &settingsWindow,
                .onboardingWindow = &onboardingWindow,
                .interaction = &interaction,
                .keyMonitor = &keys};
  }
  ~AppDelegateTest() override { ticker.shutdown(); }

  AppDelegate& app() {
    if (!app_) {
      app_ = std::make_unique<AppDelegate>(services, log,
                                           [this](double seconds) { ticker.sleep(seconds); });
    }
    return *app_;
  }

  test::TempDir temp;
  sim::FaultyFileSystem files{disk};
  sim::SimHttpClient http;
  sim::SimEventTap tap;
  sim::SimHotKeys paletteKeys;
  sim::SimScreens screens;
  sim::SimSwitcherPanel panel;
  sim::SimPalettePanel palettePanel;
  sim::SimKeyMonitor keys;
  sim::SimStatusItem statusItem;
  sim::SimUserInteraction interaction;
  sim::SimSettingsWindow settingsWindow;
  sim::SimOnboardingWindow onboardingWindow;
  /// The stall watchdog's sleeps, woken only when a test ticks it.
  test::ManualTicker ticker;
  Services services;
  std::unique_ptr<AppDelegate> app_;
};

TEST_F(AppDelegateTest, LaunchRestoresFirstAndTakesTheKeyboardOnlyAfterWarmUp) {
  app().applicationDidFinishLaunching();
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_EQ(desktop.messagingTimeout(0), AppDelegate::kLaunchMessagingTimeout);
  EXPECT_FALSE(app().isWarmedUp());

  loop.runUntilIdle();
  EXPECT_TRUE(app().isWarmedUp());
  EXPECT_NE(std::find(logLines.begin(), logLines.end(), "window snapshot warmed count=2"),
            logLines.end());
  EXPECT_EQ(desktop.messagingTimeout(0), AppDelegate::kRunningMessagingTimeout);
  EXPECT_EQ(hotKeys(), kAllOff);

  app().reporter().drain();
  const auto queue = disk.readFile(temp.path() + "/data/brenmoor/improve-queue.jsonl");
  ASSERT_TRUE(queue);
  EXPECT_NE(queue->find("\"n\":\"app.env\""), std::string::npos);
}

TEST_F(AppDelegateTest, TheTrayPausesTheSwitcherListsTheWarmedWindowsAndShowsTheAboutBox) {
  services.bundle.shortVersion = "1.4";
  app().applicationDidFinishLaunching();
  loop.runUntilIdle();
  ASSERT_TRUE(statusItem.appearance);
  const auto menu = statusItem.openMenu();
  EXPECT_EQ(std::count_if(menu.begin(), menu.end(),
                          [](const MenuEntry& entry) { return entry.title == "Editor"; }),
            2);
  ASSERT_TRUE(statusItem.choose("Pause Window Switching"));
  EXPECT_EQ(hotKeys(), kAllOn);
  EXPECT_FALSE(app().engine().hasTap());
  statusItem.openMenu();
  ASSERT_TRUE(statusItem.choose("Resume Window Switching"));
  EXPECT_EQ(hotKeys(), kAllOff);
  ASSERT_TRUE(statusItem.choose("About Tolvane"));
  EXPECT_EQ(interaction.aboutShown, Strings{"Tolvane 1.4"});
}

TEST_F(AppDelegateTest, AStallWhileTheTrayMenuIsOpenLetsGoOfItsGrabEvenWhenPaused) {
  app().applicationDidFinishLaunching();
  loop.runUntilIdle();
  app().settings().setSwitcherPaused(true);  // no trigger grab is watched now
  // The open menu's grab, as the desktop publishes it to its tap.
  tap.setWindowGrabHeld(true);
  const auto stallWithTheMenu = [&](bool open) {
    logLines.clear();
    if (open) statusItem.openMenu();
    stallMainThread(app().guard().watchdog(), 0.4);
    if (open) statusItem.closeMenu();
    return std::count(logLines.begin(), logLines.end(),
                      "watchdog: main stalled 400 ms — keyboard released");
  };
  EXPECT_EQ(stallWithTheMenu(false), 0);
  EXPECT_EQ(stallWithTheMenu(true), 1);
  EXPECT_FALSE(tap.windowGrabHeld());
  tap.setWindowGrabHeld(true);
  EXPECT_EQ(stallWithTheMenu(false), 0);  // closing the menu ended the fast watch
}

TEST_F(AppDelegateTest, QuitGivesTheHotkeysBackEvenWhenNeverSuppressed) {
  app().applicationDidFinishLaunching();
  for (std::int32_t key : {1, 2, 6}) desktop.seedHotKey(key, false);
  app().applicationWillTerminate();
  EXPECT_EQ(hotKeys(), kAllOn);
}

}  // namespace
}  // namespace tolvane
