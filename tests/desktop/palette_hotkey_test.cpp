// The palette hot key on a real display: the real `tolvane` under openbox, with openbox's stock
// key bindings and with its Alt-Space binding removed through its own configuration; and the
// hot-key recorder taking a combination typed through XTEST. Waits end on log or report lines.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "desktop/support/desktop_tools.h"

#include "desktop/support/tolvane_process.h"
#include "desktop/support/x_session.h"

namespace tolvane {
namespace {

constexpr const char* kRefusedLine =
    "palette hotkey refused keyCode=49 modifiers=2048 reason=Alt+space is grabbed by another "
    "program, most likely the window manager (Openbox)";
constexpr const char* kRegisteredLine = "palette hotkey registered keyCode=49 modifiers=2048";

class PaletteHotKeyOnX11 : public ::testing::Test {
 protected:
  void launch() {
    ASSERT_TRUE(x.start()) << x.error();
    tolvane = std::make_unique<test::TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(), home.path());
    ASSERT_TRUE(x.waitUntil([&] { return tolvane->count("window snapshot warmed") > 0; },
                            {tolvane->pump()}))
        << tolvane->log();
  }
  test::XSession x;
  test::TempDir home;
  std::unique_ptr<test::TolvaneProcess> tolvane;
};

TEST_F(PaletteHotKeyOnX11, OpenboxsStockAltSpaceIsRefusedAndTheLogSaysSoOnce) {
  ASSERT_NO_FATAL_FAILURE(launch());
  EXPECT_EQ(tolvane->count(kRefusedLine), 1) << tolvane->log();
  EXPECT_EQ(tolvane->count("palette hotkey registered"), 0);
}

TEST_F(PaletteHotKeyOnX11, WithoutOpenboxsBindingAltSpaceIsTolvanes) {
  ASSERT_TRUE(test::freeAltSpaceFromOpenbox(x, home.path()))
      << "openbox's stock rc.xml binds no A-space";
  ASSERT_NO_FATAL_FAILURE(launch());
  EXPECT_EQ(tolvane->count(kRegisteredLine), 1) << tolvane->log();
  EXPECT_EQ(tolvane->count("palette hotkey refused"), 0);
  EXPECT_FALSE(test::comboIsFree(x, 65, XCB_MOD_MASK_1));  // Alt-Space in Xvfb's keymap
}

#ifdef TOLVANE_RECORDER_HARNESS
class RecorderHarnessOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x.start()) << x.error();
    const std::string fifo = folder.path() + "/report";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened before the writer exists, so that its open does not block and nothing is lost.
    report = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(report, 0);
    const auto client = x.startClient({TOLVANE_RECORDER_HARNESS, folder.path(), fifo});
    ASSERT_TRUE(client);
    window = client->windows[0];
    x.sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
    ASSERT_TRUE(x.waitUntil([&] { return x.activeWindow() == window; }));
  }
  void TearDown() override {
    if (report >= 0) close(report);
  }
  bool waitForReport(const std::string& line) {
    return x.waitUntil([&] { return reported.find(line + "\n") != std::string::npos; },
                       {test::pumpInto(report, reported)});
  }
  nlohmann::json storedPreferences() {
    std::ifstream file(folder.path() + "/preferences.json");
    return nlohmann::json::parse(file, nullptr, false);
  }

  test::XSession x;
  test::TempDir folder;
  int report = -1;
  std::string reported;
  xcb_window_t window = XCB_WINDOW_NONE;
};

TEST_F(RecorderHarnessOnX11, RecordsControlShiftKTypedIntoItsWindowAndStoresIt) {
  ASSERT_TRUE(waitForReport("view recording=0 chips=⌥Space reset=0")) << reported;
  // The recorder sits at the window's origin, 28 pixels high.
  const std::string id = std::to_string(window);
  ASSERT_TRUE(test::xdotool(x, {"mousemove", "--window", id, "12", "14", "click", "1"}));
  ASSERT_TRUE(waitForReport("view recording=1 chips= reset=0")) << reported;

  // A key without a modifier beeps and recording goes on; Control-Shift-K is taken.
  ASSERT_TRUE(test::xdotool(x, {"key", "k", "ctrl+shift+k"}));
  ASSERT_TRUE(waitForReport("view recording=0 chips=⌃⇧K reset=1")) << reported;
  // One beep for the bare key; the key code is stored (and applied) before the mask.
  EXPECT_NE(reported.find("view recording=1 chips= reset=0\n"
                          "beep\n"
                          "register keyCode=40 modifiers=2048\n"
                          "register keyCode=40 modifiers=4608\n"
                          "view recording=0 chips=⌃⇧K reset=1\n"),
            std::string::npos)
      << reported;
  const auto stored = storedPreferences();
  ASSERT_TRUE(stored.is_object());
  EXPECT_EQ(stored.value("paletteKeyCode", 0), 40);
  EXPECT_EQ(stored.value("paletteModifiers", 0), 4608);
}
#endif

}  // namespace
}  // namespace tolvane
