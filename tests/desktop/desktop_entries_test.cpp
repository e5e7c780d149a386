// Desktop entries without a display: what counts as an application's entry. (Names, locales, Hidden
// and NoDisplay are read through the X11 desktop's test.)
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

}  // namespace
}  // namespace tolvane::x11
