// The permission request: the system prompt once per process, then the desktop's settings
// place, or a log line when the desktop has none.
#include "windows/permissions.h"

#include <gtest/gtest.h>

#include "support/desktop_world.h"

namespace tolvane {
namespace {

constexpr std::string_view kNothingToOpen = "accessibility settings: nothing to open";

TEST(PermissionsTest, PromptsOnceThenOpensTheSettingsOrSaysWhyNotAndDoesNothingWhenTrusted) {
  const std::string settingsPage =
      "openURL " + std::string(sim::SimDesktop::kPermissionSettingsURL);
  struct Row {
    const char* what;
    bool hasSettingsPage;
    std::vector<std::string> events;
    std::size_t logLines;
  };
  const Row rows[] = {
      {"a settings page", true, {settingsPage, settingsPage}, 0},
      // X11: no setting grants the permission, and a macOS address must not reach xdg-open.
      {"no settings page", false, {}, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::DesktopWorld world;
    if (!row.hasSettingsPage) world.desktop.setPermissionSettingsURL(std::nullopt);
    Permissions permissions(world.desktop, world.desktop, world.log);
    world.desktop.setTrusted(false);
    permissions.request();
    permissions.request();
    permissions.request();
    EXPECT_EQ(world.desktop.prompts(), 1);
    EXPECT_EQ(world.desktop.events(), row.events);
    EXPECT_EQ(world.linesStartingWith(kNothingToOpen).size(), row.logLines);

    world.desktop.setTrusted(true);
    world.desktop.clearEvents();
    permissions.request();
    EXPECT_TRUE(world.desktop.events().empty());
  }
}

}  // namespace
}  // namespace tolvane
