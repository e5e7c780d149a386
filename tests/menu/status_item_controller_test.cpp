// The tray item on the simulated desktop: the icon, dot and tooltip for each state, and window
// titles cut to what the menu can show.
#include "menu/status_item_controller.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "backends/sim/sim_key_monitor.h"
#include "backends/sim/sim_status_item.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

class StatusItemControllerTest : public ::testing::Test, protected test::SwitcherServices {
 protected:
  StatusItemControllerTest() {
    controller.actions().hotKeyProblem = [this] { return hotKeyProblem; };
  }

  sim::SimStatusItem item;
  sim::SimUserInteraction interaction;
  SecureInput secureInput{desktop, desktop};
  BundleInfo bundle;
  std::optional<std::string> hotKeyProblem;
  StatusItemController controller{
      {item, settings, desktop, guard, secureInput, l10n, loop, log, interaction, bundle}};
};

TEST_F(StatusItemControllerTest, TheIconDotAndTooltipFollowTheStateWithinOneRefresh) {
  struct Row {
    const char* what;
    std::function<void()> arrange;
    MenuBarIconState state;
    bool badged, pulse;
    std::string tooltip;
    /// Secure input's notice, disabled, stands above the search entry as well.
    bool noticeInMenu = false;
  };
  const std::string refused = "Alt+space is grabbed by another program";
  const Row rows[] = {
      {"switching", [] {}, MenuBarIconState::active, false, false, "Tolvane"},
      {"paused", [this] { settings.setSwitcherPaused(true); }, MenuBarIconState::paused, false,
       false, "Tolvane"},
      // Secure input never touches the icon; its notice wins the tooltip.
      {"secure input over a refused hotkey",
       [&] {
         hotKeyProblem = refused;
         desktop.addApp({.pid = 300, .localizedName = "Pass\nwords"});
         desktop.setSecureInput(true, 300);
       },
       MenuBarIconState::active, true, true,
       "Pass words holds the keyboard — Super+Tab is left to the window manager", true},
      // Last: nothing here polls the switcher back on once the permission returns.
      {"no permission", [this] { desktop.setTrusted(false); }, MenuBarIconState::permissionWarning,
       true, true, "Tolvane"},
  };
  // The switcher in charge: the guard watches secure input from now on.
  ready();
  controller.start();
  for (const auto& row : rows) {
    row.arrange();
    loop.advance(StatusItemController::kIconRefreshSeconds);
    ASSERT_TRUE(item.appearance) << row.what;
    const auto& view = *item.appearance;
    EXPECT_EQ(view.state, row.state) << row.what;
    EXPECT_EQ(view.badged, row.badged) << row.what;
    EXPECT_EQ(view.icon.hole.has_value(), row.badged) << row.what;
    EXPECT_EQ(view.pulse, row.pulse) << row.what;
    EXPECT_EQ(view.tooltip, row.tooltip) << row.what;
    const auto menu = item.openMenu();
    const auto search = std::find_if(menu.begin(), menu.end(), [](const MenuEntry& entry) {
      return entry.title == "Search Windows…";
    });
    const bool notice = search - menu.begin() >= 2 && (search - 2)->title == row.tooltip &&
                        !(search - 2)->enabled && (search - 1)->kind == MenuEntry::Kind::separator;
    EXPECT_EQ(notice, row.noticeInMenu) << row.what;

    settings.setSwitcherPaused(false);
    desktop.setTrusted(true);
    desktop.setSecureInput(false);
    hotKeyProblem.reset();
    loop.advance(NativeSwitcherGuard::kHeartbeatSeconds);
  }
}

TEST(DisplayTextTest, CutsAfterCharactersAndReplacesWhatCannotBeShown) {
  const std::tuple<std::string, std::size_t, std::string> rows[] = {
      {"日本語のタイトル", 3, "日本語"},  // three characters, nine bytes
      {"tab\there\nnew\x7f", 40, "tab here new "},
      {"bad \xFF\xC3 end", 40, "bad \xEF\xBF\xBD\xEF\xBF\xBD end"},
      // User-perceived characters: an accent kept with its letter, a flag kept whole.
      {"e\u0301e\u0301e\u0301", 2, "e\u0301e\u0301"},
      {"🇫🇷🇩🇪", 1, "🇫🇷"},
  };
  for (const auto& [text, characters, shown] : rows) {
    EXPECT_EQ(displayText(text, characters), shown) << text;
  }
}

}  // namespace
}  // namespace tolvane
