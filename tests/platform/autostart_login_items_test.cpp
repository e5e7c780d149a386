// The autostart entry: what a session manager reads back from it.
#include "backends/system/autostart_login_items.h"

#include <gtest/gtest.h>

#include <vector>

#include "backends/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using Strings = std::vector<std::string>;

class AutostartLoginItemsTest : public ::testing::Test {
 protected:
  const test::TempDir temp;
  const std::string folder = temp.path() + "/autostart";
  const std::string entry = folder + "/com.brenmoor.tolvane.desktop";
  PosixFileSystem disk;
};

TEST_F(AutostartLoginItemsTest, RegisterWritesAnEntryThatStartsThisExecutable) {
  // Exec quoting for reserved characters, a backslash before " ` $ \ inside quotes, "%%" for a
  // percent sign, then every value's string escapes (so a quoted backslash is doubled twice).
  const std::pair<std::string, std::string> rows[] = {
      {"/usr/bin/tolvane", "Exec=/usr/bin/tolvane"},
      {"/opt/My Apps/tolvane", R"(Exec="/opt/My Apps/tolvane")"},
      {R"(/t/"q"/$HOME/`x`/b\s)", R"(Exec="/t/\\"q\\"/\\$HOME/\\`x\\`/b\\\\s")"},
      {"/srv/100%/tolvane", "Exec=/srv/100%%/tolvane"},
      {"/a\tb\nc", R"(Exec="/a\tb\nc")"},
  };
  for (const auto& [exe, execLine] : rows) {
    ASSERT_EQ(AutostartLoginItems(disk, entry, exe).registerApp(), std::nullopt) << exe;
    const std::string text = "\n" + disk.readFile(entry).value_or("");
    for (const auto& line : Strings{"[Desktop Entry]", "Type=Application", "Name=Tolvane",
                                    "X-GNOME-Autostart-enabled=true", execLine}) {
      EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << " in\n" << text;
    }
  }
}

}  // namespace
}  // namespace tolvane::system
