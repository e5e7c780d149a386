// The permission request: the system prompt once per process, then the desktop's settings
// place, or a log line when the desktop has none.
#include "windows/permissions.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/sim_services.h"

namespace tolvane {
namespace {

constexpr std::string_view kNothingToOpen = "accessibility settings: nothing to open";

TEST(PermissionsTest, PromptsOnceThenOpensTheSettingsOrSaysWhyNotAndDoesNothingWhenTrusted) {
  const std::string settingsPage =
      "openURL " + std::string(sim::SimDesktop::kPermissionSettingsURL);
  // Whether the desktop has a settings page, what is opened, and how often nothing can be. On
  // X11 no setting grants the permission, and a macOS address must not reach xdg-open.
  const std::tuple<bool, std::vector<std::string>, std::size_t> rows[] = {
      {true, {settingsPage, settingsPage}, 0}, {false, {}, 2}};
  for (const auto& [hasSettingsPage, events, logLines] : rows) {
    SCOPED_TRACE(hasSettingsPage);
    test::WindowServices world;
    if (!hasSettingsPage) world.desktop.setPermissionSettingsURL(std::nullopt);
    Permissions permissions(world.desktop, world.desktop, world.log);
    world.desktop.setTrusted(false);
    permissions.request();
    permissions.request();
    permissions.request();
    EXPECT_EQ(world.desktop.prompts(), 1);
    EXPECT_EQ(world.desktop.events(), events);
    EXPECT_EQ(world.linesStartingWith(kNothingToOpen).size(), logLines);

    world.desktop.setTrusted(true);
    world.desktop.clearEvents();
    permissions.request();
    EXPECT_TRUE(world.desktop.events().empty());
  }
}

}  // namespace
}  // namespace tolvane
