// Application entries: their ids, names and flags.
#include <gtest/gtest.h>

#include "windows/switch_window.h"

namespace tolvane {
namespace {

TEST(SwitchWindowTest, ApplicationEntriesFollowTheNamingAndIdRules) {
  struct Case {
    const char* what;
    RunningApp app;
    std::uint32_t id;
    std::string appName;
    std::optional<std::string> bundleID;
  };
  const Case cases[] = {
      {"named application",
       {.pid = 1234, .localizedName = "Files", .bundleID = "org.gnome.Nautilus"},
       4294966061u,
       "Files",
       "org.gnome.Nautilus"},
      {"no localized name: the bundle id stands in",
       {.pid = 1, .bundleID = "org.example.tool"},
       4294967294u,
       "org.example.tool",
       "org.example.tool"},
      {"neither: a question mark and no bundle id", {.pid = 0}, 4294967295u, "?", std::nullopt},
      {"hidden application",
       {.pid = 42, .localizedName = "Mail", .hidden = true},
       ~42u,
       "Mail",
       std::nullopt},
  };
  for (const auto& c : cases) {
    auto entry = SwitchWindow::appEntry(c.app, nullptr);
    EXPECT_EQ(entry.id(), c.id) << c.what;
    EXPECT_EQ(entry.appName(), c.appName) << c.what;
    EXPECT_EQ(entry.bundleID(), c.bundleID) << c.what;
    EXPECT_TRUE(entry.isAppEntry()) << c.what;
    EXPECT_EQ(entry.title(), "") << c.what;
    EXPECT_EQ(entry.appIsHidden(), c.app.hidden) << c.what;
    EXPECT_FALSE(entry.isMinimized()) << c.what;
  }
}

}  // namespace
}  // namespace tolvane
