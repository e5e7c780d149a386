// Desktop entries without a display: what counts as an application's entry, and its Exec
// arguments. (Names, locales, Hidden and NoDisplay are read through the X11 desktop's test.)
#include "backends/x11/desktop_entries.h"

#include <gtest/gtest.h>

namespace tolvane::x11 {
namespace {

TEST(DesktopEntryTest, OnlyTheMainGroupOfVisibleApplicationsCounts) {
  struct Row {
    const char* why;
    std::string text;
    std::optional<std::string> name;
  };
  const std::vector<Row> rows = {
      {"escapes and spaces around '='", "[Desktop Entry]\nType = Application\nName = A\\sB\\\\C\n",
       "A B\\C"},
      {"an action group does not override the entry",
       "[Desktop Entry]\nType=Application\nName=Files\n[Desktop Action new]\nName=New Window\n",
       "Files"},
      {"a link is not an application", "[Desktop Entry]\nType=Link\nName=Web\n", std::nullopt},
      {"keys outside the main group do not count", "Type=Application\nName=X\n", std::nullopt},
  };
  for (const auto& row : rows) {
    const auto entry = parseDesktopEntry(row.text);
    EXPECT_EQ(entry ? std::optional(entry->name) : std::nullopt, row.name) << row.why;
  }
}

TEST(DesktopEntryTest, ExecArgumentsUndoQuotingAndExpandFieldCodes) {
  struct Row {
    const char* why;
    std::string exec;
    std::optional<std::vector<std::string>> args;
  };
  const std::vector<Row> rows = {
      {"file and URL codes disappear", "viewer --new-window %U %f",
       std::vector<std::string>{"viewer", "--new-window"}},
      {"quoted arguments keep spaces and escaped quotes", R"("/opt/My App/app" --name "a \"b\"")",
       std::vector<std::string>{"/opt/My App/app", "--name", "a \"b\""}},
      {"icon and name", "app %i --title=%c",
       std::vector<std::string>{"app", "--icon", "app-icon", "--title=Nom"}},
      {"an open quote is malformed", "app \"unfinished", std::nullopt},
      {"nothing to run", "%U", std::nullopt},
  };
  for (const auto& row : rows) {
    const DesktopEntry entry{
        .path = "/x.desktop", .name = "Name", .exec = row.exec, .icon = "app-icon"};
    EXPECT_EQ(execArguments(entry, "Nom"), row.args) << row.why;
  }
}

}  // namespace
}  // namespace tolvane::x11
