// The search palette of the real `tolvane` on a real display: three xterms under an openbox that
// leaves Alt-Space alone, keys and clicks through XTEST (xdotool), and what the window manager
// reports as active. The palette's keyboard grab is seen in the focus events the server sends
// when it is taken.
#include <map>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"
#include "desktop/support/tolvane_desktop.h"

namespace tolvane::test {
namespace {

constexpr xcb_keycode_t kSpace = 65;  // in Xvfb's default keymap

class PaletteInTolvane : public TolvaneDesktopTest {
 protected:
  void configureDisplay() override { freeAltSpace(); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(TolvaneDesktopTest::SetUp());
    // What watch() selects, and focus changes.
    const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE |
                                   XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_change_window_attributes(x.xcb(), x.root(), XCB_CW_EVENT_MASK, &rootMask);
    x.observeEvents([this](const xcb_generic_event_t& event) {
      if (keyboardGrabbedForPanel(event, x.root())) ++grabs_;
    });
    for (const char* title : {"alpha", "notes", "build"}) {
      const auto term = x.startXterm(title);
      ASSERT_TRUE(term);
      windowTitled[title] = term->windows[0];
      const std::uint32_t mask = XCB_EVENT_MASK_FOCUS_CHANGE;
      xcb_change_window_attributes(x.xcb(), term->windows[0], XCB_CW_EVENT_MASK, &mask);
    }
    launch();
    ASSERT_TRUE(waitForLog("palette hotkey registered keyCode=49 modifiers=2048"))
        << tolvane->log();
    EXPECT_EQ(tolvane->count("palette hotkey refused"), 0);
    ASSERT_NO_FATAL_FAILURE(orderHistory());
  }
  /// Most recent first: build, alpha, notes.
  void orderHistory() {
    for (const char* title : {"notes", "alpha", "build"}) ASSERT_NO_FATAL_FAILURE(activate(title));
  }
  using TolvaneDesktopTest::activate;
  using TolvaneDesktopTest::waitForActive;
  void activate(const std::string& title) { activate(windowTitled.at(title)); }
  bool waitForActive(const std::string& title) { return waitForActive(windowTitled.at(title)); }
  bool isActive(const std::string& title) { return x.activeWindow() == windowTitled.at(title); }

  /// The hot key (Alt-Space unless changed), until the palette is on screen and has taken the
  /// keyboard.
  void open(const std::string& hotKey = "alt+space") {
    const int grabs = grabs_;
    type("key " + hotKey);
    ASSERT_TRUE(x.waitUntil([&] { return grabs_ > grabs && panel(); }, {tolvane->pump()}))
        << tolvane->log();
  }
  /// Until the palette is gone; it gives the keyboard back before it leaves the screen.
  bool waitClosed() { return waitForPanel(false); }

  std::map<std::string, xcb_window_t> windowTitled;

 private:
  int grabs_ = 0;
};

TEST_F(PaletteInTolvane, AltSpaceOpensItOverTheActiveWindowAndAgainClosesIt) {
  ASSERT_NO_FATAL_FAILURE(open());
  const auto palette = panel();
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->width, 600);
  EXPECT_EQ(palette->height, 420);
  EXPECT_TRUE(keyboardTaken());
  EXPECT_TRUE(isActive("build"));

  type("key alt+space");
  ASSERT_TRUE(waitClosed()) << tolvane->log();
  EXPECT_FALSE(keyboardTaken());
  EXPECT_TRUE(isActive("build"));
}

TEST_F(PaletteInTolvane, KeysAndClicksChooseOrCloseAndOnlyAChoiceActivates) {
  struct Row {
    const char* why;
    std::vector<std::string> xdotool;
    const char* active;  // once the palette has closed
  };
  const Row rows[] = {
      // Unfiltered, Return would keep "build", the first row.
      {"typing filters and Return activates the match", {"key", "n", "o", "t", "Return"}, "notes"},
      {"Super and a digit picks that row", {"key", "super+2"}, "alpha"},
      // Had Escape closed the palette, "alp" and Return would have gone to "build"; had it
      // kept the text, "notalp" would match nothing.
      {"Escape clears the query first",
       {"key", "n", "o", "t", "Escape", "a", "l", "p", "Return"},
       "alpha"},
      {"and closes second", {"key", "n", "o", "t", "Escape", "Escape"}, "build"},
      {"a click outside closes it", {"mousemove", "5", "5", "click", "1"}, "build"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ASSERT_NO_FATAL_FAILURE(orderHistory());
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(xdotool(x, row.xdotool));
    ASSERT_TRUE(waitClosed()) << tolvane->log();
    EXPECT_TRUE(waitForActive(row.active)) << tolvane->log();
  }
}

TEST_F(PaletteInTolvane, AQueryIsPaintedWithItsMatches) {
  ASSERT_NO_FATAL_FAILURE(open());
  // "l" is in "build" (the selected row, underlined) and in "alpha", drawn in the accent, not
  // only as the selected row's background.
  type("key l");
  ASSERT_TRUE(pollUntil([&] {
    const auto palette = panel();
    return palette && showsColourAsText(x.xcb(), x.root(), *palette, 10, 132, 255);
  })) << tolvane->log();
  saveScreenshot(x, "desktop-palette.png");
}

TEST_F(PaletteInTolvane, TheRecorderInTolvaneMovesTheHotKey) {
  EXPECT_FALSE(comboIsFree(x, kSpace, XCB_MOD_MASK_1)) << "Tolvane holds Alt-Space";
  const std::string shown = "test hook: recorder window=";
  ASSERT_EQ(tolvane->sendURL("tolvane://test-recorder"), 0);
  ASSERT_TRUE(waitForLog(shown)) << tolvane->log();
  windowTitled["recorder"] = static_cast<xcb_window_t>(std::strtoul(
      tolvane->log().c_str() + tolvane->log().find(shown) + shown.size(), nullptr, 10));
  ASSERT_TRUE(waitForActive("recorder")) << tolvane->log();
  EXPECT_EQ(tolvane->count("test hook: recorder recording=0 chips=AltSpace reset=0"), 1);

  // The recorder sits at the window's origin, 28 pixels high.
  const std::string window = std::to_string(windowTitled.at("recorder"));
  ASSERT_TRUE(xdotool(x, {"mousemove", "--window", window, "12", "14", "click", "1"}));
  ASSERT_TRUE(waitForLog("test hook: recorder recording=1 chips= reset=0")) << tolvane->log();
  type("key ctrl+shift+k");
  ASSERT_TRUE(waitForLog("test hook: recorder recording=0 chips=CtrlShiftK reset=1"))
      << tolvane->log();
  EXPECT_EQ(tolvane->count("palette hotkey registered keyCode=40 modifiers=4608"), 1);

  ASSERT_NO_FATAL_FAILURE(open("ctrl+shift+k"));
  type("key Escape");
  ASSERT_TRUE(waitClosed());
  EXPECT_TRUE(comboIsFree(x, kSpace, XCB_MOD_MASK_1)) << "Alt-Space is still held";
}

}  // namespace
}  // namespace tolvane::test
