// The permission request: the system prompt once per process, then the settings location.
#include "windows/permissions.h"

#include <gtest/gtest.h>

#include "support/desktop_world.h"

namespace tolvane {
namespace {

TEST(PermissionsTest, PromptsOnceThenOpensTheSettingsAndDoesNothingWhenTrusted) {
  test::DesktopWorld world;
  Permissions permissions(world.desktop, world.desktop);
  world.desktop.setTrusted(false);
  permissions.request();
  permissions.request();
  permissions.request();
  EXPECT_EQ(world.desktop.prompts(), 1);
  EXPECT_EQ(world.desktop.events(),
            std::vector<std::string>(
                2, "openURL " + std::string(Permissions::kAccessibilitySettingsURL)));
  world.desktop.setTrusted(true);
  world.desktop.clearEvents();
  permissions.request();
  EXPECT_TRUE(world.desktop.events().empty());
}

}  // namespace
}  // namespace tolvane
