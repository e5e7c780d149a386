// The autostart entry: what a session manager reads back from it, removal, and failures that
// reach the system log through the settings store.
#include "platform/system/autostart_login_items.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "platform/sim/faulty_file_system.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_preference_store.h"
#include "platform/sim/sim_system_log.h"
#include "platform/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

class AutostartLoginItemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root.empty());
    entry = root + "/autostart/com.brenmoor.tolvane.desktop";
  }

  const test::TempDir temp;
  const std::string root = temp.path();
  std::string entry;
  PosixFileSystem disk;
  sim::FaultyFileSystem files{disk};
};

TEST_F(AutostartLoginItemsTest, RegisterWritesAnEntryThatStartsThisExecutable) {
  // The Exec lines as the desktop entry rules want them: quoting for reserved characters, a
  // backslash before " ` $ \ inside quotes, "%%" for a percent sign, then the string escapes
  // of every value (so a quoted backslash appears doubled twice).
  const std::pair<std::string, std::string> rows[] = {
      {"/usr/bin/tolvane", "Exec=/usr/bin/tolvane"},
      {"/opt/My Apps/tolvane", R"(Exec="/opt/My Apps/tolvane")"},
      {"/home/o'neil/tolvane", R"(Exec="/home/o'neil/tolvane")"},
      {R"(/t/"q"/$HOME/`x`/b\s)", R"(Exec="/t/\\"q\\"/\\$HOME/\\`x\\`/b\\\\s")"},
      {"/srv/100%/tolvane", "Exec=/srv/100%%/tolvane"},
      {"/a\tb\nc", R"(Exec="/a\tb\nc")"},
  };
  for (const auto& [exe, execLine] : rows) {
    AutostartLoginItems items(files, entry, exe);
    ASSERT_EQ(items.registerApp(), std::nullopt) << exe;
    const std::string text = disk.readFile(entry).value_or("");
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    for (const char* line :
         {"Type=Application", "Name=Tolvane", "X-GNOME-Autostart-enabled=true"}) {
      EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line;
    }
    EXPECT_NE(text.find("\n" + execLine + "\n"), std::string::npos) << text;
  }
}

TEST_F(AutostartLoginItemsTest, UnregisterRemovesTheEntryAndAMissingEntryIsSuccess) {
  AutostartLoginItems items(files, entry, "/usr/bin/tolvane");
  ASSERT_EQ(items.registerApp(), std::nullopt);
  EXPECT_EQ(items.unregisterApp(), std::nullopt);
  EXPECT_FALSE(disk.exists(entry));
  EXPECT_EQ(items.unregisterApp(), std::nullopt);
}

TEST_F(AutostartLoginItemsTest, FailuresNameTheStepAndThePath) {
  AutostartLoginItems items(files, entry, "/usr/bin/tolvane");
  files.failCreates = true;
  EXPECT_EQ(items.registerApp(), "cannot create folder " + root + "/autostart");
  files.failCreates = false;
  files.failWrites = true;
  EXPECT_EQ(items.registerApp(), "cannot write " + entry);
  EXPECT_FALSE(disk.exists(entry));
}

TEST_F(AutostartLoginItemsTest, AFirstLaunchThatCannotRegisterLogsTheExactSystemLogLine) {
  files.failCreates = true;  // also keeps the diagnostic log off the disk
  AutostartLoginItems items(files, entry, "/usr/bin/tolvane");
  sim::SimPreferenceStore store;
  sim::SimSystemLog systemLog;
  sim::SimClock clock;
  DebugLog debugLog(files, clock, root + "/logs");
  AppSettings settings(store, items, systemLog, debugLog);
  EXPECT_EQ(systemLog.lines, std::vector<std::string>{
                                 "Tolvane: launch-at-login update failed: cannot create folder " +
                                 root + "/autostart"});
  EXPECT_TRUE(settings.launchAtLogin());
  EXPECT_EQ(store.boolValue("launchAtLogin"), true);
}

}  // namespace
}  // namespace tolvane::system
