// The settings window on the simulated desktop: one window at a time, the switches bound to what
// they change and painted again after the change, the excluded applications, the hot-key
// recorder's capture and the account.
#include "settings_window/settings_window_controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "backends/sim/sim_described_window.h"
#include "backends/sim/sim_http_client.h"
#include "backends/system/openssl_digest.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;
using S = AppSettings;

class SettingsWindowTest : public ::testing::Test, protected test::SimServices {
 protected:
  SettingsWindowTest() {
    settings.setInterceptionChangedHook([this] { ++interceptionChanges; });
    catalog.applications = {{"org.example.Editor", "Editor"},
                            {"org.example.Mail", "Mail"},
                            {"org.example.Terminal", "Terminal"}};
  }

  SettingsWindowController& controller() {
    if (!controller_) {
      // In the order of the fields: the window, its services, the optional ones, the desktop.
      controller_ =
          std::make_unique<SettingsWindowController>(SettingsWindowController::Dependencies{
              window, settings, l10n, clock, loop, log, desktop, permissions, interaction,
              &keyMonitor, &catalog, bundle, tester, account.get(), nullptr, nullptr,
              [] { return std::optional<std::string>(); }, true});
    }
    return *controller_;
  }
  /// Shows the window on `tab` and answers what it paints.
  const SettingsWindowView& open(SettingsTab tab) {
    controller().show(tab);
    return painted();
  }
  /// The window after the repaints asked for so far.
  const SettingsWindowView& painted() {
    loop.runUntilIdle();
    return window.view();
  }
  SettingsRowView row(const std::string& id) {
    for (const auto& card : painted().cards) {
      for (const auto& item : card.items) {
        const auto* found = std::get_if<SettingsRowView>(&item);
        if (found && found->id == id) return *found;
      }
    }
    ADD_FAILURE() << "no row " << id;
    return {};
  }
  /// The first control of type `Control` in row `id`.
  template <typename Control>
  Control control(const std::string& id) {
    for (const auto& each : row(id).controls) {
      if (const auto* found = std::get_if<Control>(&each)) return *found;
    }
    ADD_FAILURE() << "no such control in " << id;
    return {};
  }
  SettingsAppListView excludedList() {
    for (const auto& card : painted().cards) {
      if (card.id == "priv.user") return std::get<SettingsAppListView>(card.items.front());
    }
    ADD_FAILURE() << "no excluded applications";
    return {};
  }

  sim::SimSettingsWindow window;
  sim::SimKeyMonitor keyMonitor;
  sim::SimUserInteraction interaction;
  sim::SimHttpClient http;
  system::OpenSslDigest digest;
  CloudConfig cloud{"http://sync.test"};
  Permissions permissions{desktop, desktop, log};
  sim::SimApplicationCatalog catalog;
  BundleInfo bundle{.shortVersion = "1.2.0"};
  TesterMode tester{{preferences, http, clock, loop, random, system, log, nullptr, bundle, cloud}};
  std::unique_ptr<CloudAccount> account;
  int interceptionChanges = 0;
  std::unique_ptr<SettingsWindowController> controller_;
};

TEST_F(SettingsWindowTest, OneWindowComesForwardOnTheTabAskedForAndANewOneAfterTheUserClosedIt) {
  EXPECT_EQ(open(SettingsTab::switcher).tab, SettingsTab::switcher);
  const auto& view = open(SettingsTab::privacy);
  EXPECT_EQ(view.tab, SettingsTab::privacy);
  EXPECT_EQ(view.pageTitle, "Privacy");
  EXPECT_TRUE(view.sidebar[2].selected);
  EXPECT_EQ(window.opened, 1);
  EXPECT_EQ(window.broughtToFront, 2);

  window.closeByUser();
  EXPECT_FALSE(controller().isOpen());
  controller().show();
  EXPECT_EQ(window.opened, 2);
  EXPECT_EQ(painted().tab, SettingsTab::privacy);  // the page last shown
}

TEST_F(SettingsWindowTest, EachSwitchStoresItsSettingAndIsPaintedAsStored) {
  struct Row {
    SettingsTab tab;
    const char* rowId;
    bool (S::*stored)() const;
    void (S::*store)(bool);
    int interceptionChanges;
  };
  const Row rows[] = {
      {SettingsTab::general, "gen.launchLogin", &S::launchAtLogin, &S::setLaunchAtLogin, 0},
      // These decide whether the switcher takes the keys: the hook makes them act.
      {SettingsTab::switcher, "sw.cmdTab", &S::interceptCmdTab, &S::setInterceptCmdTab, 1},
      {SettingsTab::privacy, "priv.pause", &S::switcherPaused, &S::setSwitcherPaused, 1},
      {SettingsTab::about, "gen.crashReports", &S::crashReportingEnabled,
       &S::setCrashReportingEnabled, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.rowId);
    open(r.tab);
    const bool before = (settings.*r.stored)();
    const int paints = window.paints;
    interceptionChanges = 0;
    EXPECT_TRUE(control<SettingsSwitch>(r.rowId).enabled);
    control<SettingsSwitch>(r.rowId).onChange(!before);
    EXPECT_EQ((settings.*r.stored)(), !before);
    EXPECT_EQ(interceptionChanges, r.interceptionChanges);
    EXPECT_EQ(control<SettingsSwitch>(r.rowId).on, !before);
    EXPECT_EQ(window.paints, paints + 1);
    // A change made elsewhere (the tray's pause entry, settings sync) shows as well.
    (settings.*r.store)(before);
    EXPECT_EQ(control<SettingsSwitch>(r.rowId).on, before);
  }
}

TEST_F(SettingsWindowTest, AddingExcludedApplicationsSkipsTheOnesListedAndRemovingDropsOne) {
  settings.setExcludedBundleIDs({"org.example.Mail", "org.gone.Tool"});
  open(SettingsTab::privacy);
  EXPECT_EQ(excludedList().entries[1].name, "org.gone.Tool");  // no installed application

  interaction.chosenApplications = {"org.example.Terminal", "org.example.Mail",
                                    "org.example.Terminal", "org.not.Offered"};
  control<SettingsPillButton>("priv.addApp").action();
  EXPECT_EQ(interaction.chooserCandidates,
            (std::vector<InstalledApplication>{{"org.example.Editor", "Editor"},
                                               {"org.example.Terminal", "Terminal"}}));
  EXPECT_EQ(settings.excludedBundleIDs(),
            (Strings{"org.example.Mail", "org.gone.Tool", "org.example.Terminal"}));
  const auto entries = excludedList().entries;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].name, "Terminal");

  excludedList().onRemove("org.example.Mail");
  EXPECT_EQ(settings.excludedBundleIDs(), (Strings{"org.gone.Tool", "org.example.Terminal"}));
}

TEST_F(SettingsWindowTest, TheRecorderStoresACombinationAndStopsWhenItsPageOrWindowGoes) {
  open(SettingsTab::switcher);
  control<SettingsRecorder>("sw.hotkeySearch").onClick();
  EXPECT_TRUE(control<SettingsRecorder>("sw.hotkeySearch").view.recording);
  EXPECT_TRUE(keyMonitor.press(40, eventflags::kControl | eventflags::kShift));
  const auto recorded = control<SettingsRecorder>("sw.hotkeySearch").view;
  EXPECT_FALSE(recorded.recording);
  EXPECT_EQ(recorded.chips, (Strings{"Ctrl", "Shift", "K"}));

  control<SettingsRecorder>("sw.hotkeySearch").onClick();
  controller().show(SettingsTab::general);
  EXPECT_EQ(keyMonitor.monitorCount(), 0u);

  open(SettingsTab::switcher);
  control<SettingsRecorder>("sw.hotkeySearch").onClick();
  window.closeByUser();
  EXPECT_EQ(keyMonitor.monitorCount(), 0u);
  EXPECT_EQ(settings.paletteKeyCode(), 40);
  EXPECT_EQ(settings.paletteModifiers(), 4608);
}

TEST_F(SettingsWindowTest, TheAccountPageFollowsTheAccount) {
  EXPECT_EQ(open(SettingsTab::account).cards[0].items.size(), 1u);
  EXPECT_EQ(row("acct.signedOutTitle").subtitle, l10n.string("acct.unavailable"));
  // Each button ends the session at the service; the second ends every session.
  const std::tuple<std::size_t, std::string, std::string> buttons[] = {
      {1, "Sign out", "logout"}, {2, "Sign out everywhere", "logout-all"}};
  for (const auto& [at, title, endpoint] : buttons) {
    SCOPED_TRACE(title);
    controller_.reset();
    secrets.set(secretkey::kCloudToken, "token-1");
    secrets.set(secretkey::kCloudTokenBase, cloud.baseURL());
    secrets.set(secretkey::kCloudEmail, "ada@example.org");
    account = std::make_unique<CloudAccount>(
        CloudAccount::Dependencies{secrets, http, loop, desktop, random, digest, cloud, log});
    open(SettingsTab::account);
    EXPECT_EQ(control<SettingsValueText>("acct.status").text, "ada@example.org");
    const auto button = std::get<SettingsPillButton>(row("acct.status").controls.at(at));
    EXPECT_EQ(button.title, title);
    button.action();
    loop.runUntilIdle();
    EXPECT_EQ(http.requests().back().url, "http://sync.test/api/app/" + endpoint);
    EXPECT_FALSE(account->state().signedIn);
    EXPECT_EQ(row("acct.status").title, "Not signed in");
    EXPECT_EQ(control<SettingsPillButton>("acct.status").title, "Sign in");
  }
}

}  // namespace
}  // namespace tolvane
