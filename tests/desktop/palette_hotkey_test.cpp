// The palette hot key of the real `tolvane` under openbox, with openbox's stock key bindings and
// with its Alt-Space binding removed through its own configuration. Waits end on log lines.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "desktop/support/tolvane_process.h"
#include "desktop/support/x_session.h"

namespace tolvane {
namespace {

constexpr const char* kRefusedLine =
    "palette hotkey refused keyCode=49 modifiers=2048 reason=Alt+space is grabbed by another "
    "program, most likely the window manager (Openbox)";
constexpr const char* kRegisteredLine = "palette hotkey registered keyCode=49 modifiers=2048";

/// openbox's stock configuration without its Alt-Space binding (the window menu).
std::string configWithoutAltSpace() {
  std::ifstream stock("/etc/xdg/openbox/rc.xml");
  std::stringstream text;
  text << stock.rdbuf();
  std::string config = text.str();
  const auto start = config.find("<keybind key=\"A-space\">");
  if (start == std::string::npos) return {};
  const std::string end = "</keybind>";
  config.erase(start, config.find(end, start) + end.size() - start);
  return config;
}

class PaletteHotKeyOnX11 : public ::testing::Test {
 protected:
  void launch() {
    ASSERT_TRUE(x.start()) << x.error();
    tolvane = std::make_unique<test::TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(), home.path());
    ASSERT_TRUE(x.waitUntil([&] { return tolvane->count("window snapshot warmed") > 0; },
                            {tolvane->pump()}))
        << tolvane->log();
  }
  /// Whether another client could grab Alt-Space now (keycode 65, Mod1).
  bool altSpaceIsFree() {
    xcb_generic_error_t* error =
        xcb_request_check(x.xcb(), xcb_grab_key_checked(x.xcb(), 1, x.root(), XCB_MOD_MASK_1, 65,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const bool free = error == nullptr;
    std::free(error);
    if (free) xcb_ungrab_key(x.xcb(), 65, x.root(), XCB_MOD_MASK_1);
    x.sync();
    return free;
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
  const std::string config = configWithoutAltSpace();
  ASSERT_FALSE(config.empty()) << "openbox's stock rc.xml binds no A-space";
  const std::string path = home.path() + "/rc.xml";
  std::ofstream(path) << config;
  x.setWindowManagerArguments({"--config-file", path});
  ASSERT_NO_FATAL_FAILURE(launch());
  EXPECT_EQ(tolvane->count(kRegisteredLine), 1) << tolvane->log();
  EXPECT_EQ(tolvane->count("palette hotkey refused"), 0);
  EXPECT_FALSE(altSpaceIsFree());
}

}  // namespace
}  // namespace tolvane
