// The hot-key recorder in a window of its own on a real display, taking a combination typed
// through XTEST and storing it in a real settings file. Waits end on the lines it reports.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/pipe_reader.h"
#include "desktop/support/x_session.h"

namespace tolvane {
namespace {

#ifdef TOLVANE_RECORDER_HARNESS
class RecorderHarnessOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x.start()) << x.error();
    ASSERT_FALSE(report.path().empty());
    const auto client = x.startClient({TOLVANE_RECORDER_HARNESS, folder.path(), report.path()});
    ASSERT_TRUE(client);
    window = client->windows[0];
    x.sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
    ASSERT_TRUE(x.waitUntil([&] { return x.activeWindow() == window; }));
  }
  bool waitForReport(const std::string& line) {
    return x.waitUntil([&] { return report.text().find(line + "\n") != std::string::npos; },
                       {report.pump()});
  }
  nlohmann::json storedPreferences() {
    std::ifstream file(folder.path() + "/preferences.json");
    return nlohmann::json::parse(file, nullptr, false);
  }

  test::XSession x;
  test::TempDir folder;
  test::PipeReader report;
  xcb_window_t window = XCB_WINDOW_NONE;
};

TEST_F(RecorderHarnessOnX11, RecordsControlShiftKTypedIntoItsWindowAndStoresIt) {
  ASSERT_TRUE(waitForReport("view recording=0 chips=AltSpace reset=0")) << report.text();
  // The recorder sits at the window's origin, 28 pixels high.
  const std::string id = std::to_string(window);
  ASSERT_TRUE(test::xdotool(x, {"mousemove", "--window", id, "12", "14", "click", "1"}));
  ASSERT_TRUE(waitForReport("view recording=1 chips= reset=0")) << report.text();

  // A key without a modifier beeps and recording goes on; Control-Shift-K is taken.
  ASSERT_TRUE(test::xdotool(x, {"key", "k", "ctrl+shift+k"}));
  ASSERT_TRUE(waitForReport("view recording=0 chips=CtrlShiftK reset=1")) << report.text();
  // One beep for the bare key; the key code is stored (and applied) before the mask.
  EXPECT_NE(report.text().find("view recording=1 chips= reset=0\n"
                               "beep\n"
                               "register keyCode=40 modifiers=2048\n"
                               "register keyCode=40 modifiers=4608\n"
                               "view recording=0 chips=CtrlShiftK reset=1\n"),
            std::string::npos)
      << report.text();
  const auto stored = storedPreferences();
  ASSERT_TRUE(stored.is_object());
  EXPECT_EQ(stored.value("paletteKeyCode", 0), 40);
  EXPECT_EQ(stored.value("paletteModifiers", 0), 4608);
}
#endif

}  // namespace
}  // namespace tolvane
