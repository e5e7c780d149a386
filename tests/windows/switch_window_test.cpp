// Application entries: their ids, names and flags.
#include <gtest/gtest.h>

#include <tuple>

#include "model/switch_window.h"

namespace tolvane {
namespace {

TEST(SwitchWindowTest, ApplicationEntriesFollowTheNamingAndIdRules) {
  using Expected = std::tuple<std::uint32_t, std::string, std::optional<std::string>>;
  // The application, then the entry's id, name and bundle identifier.
  const std::pair<RunningApp, Expected> rows[] = {
      {{.pid = 1234, .localizedName = "Files", .bundleID = "org.gnome.Nautilus"},
       {4294966061u, "Files", "org.gnome.Nautilus"}},
      // No localized name: the bundle identifier stands in; neither: a question mark.
      {{.pid = 1, .bundleID = "org.example.tool"},
       {4294967294u, "org.example.tool", "org.example.tool"}},
      {{.pid = 0}, {4294967295u, "?", std::nullopt}},
      {{.pid = 42, .localizedName = "Mail", .hidden = true}, {~42u, "Mail", std::nullopt}},
  };
  for (const auto& [app, expected] : rows) {
    const auto entry = SwitchWindow::appEntry(app, nullptr);
    EXPECT_EQ(Expected(entry.id(), entry.appName(), entry.bundleID()), expected) << app.pid;
    // Untitled and never minimized; hidden as its application is.
    EXPECT_EQ(
        std::tuple(entry.isAppEntry(), entry.title(), entry.isMinimized(), entry.appIsHidden()),
        std::tuple(true, std::string(), false, app.hidden))
        << app.pid;
  }
}

}  // namespace
}  // namespace tolvane
