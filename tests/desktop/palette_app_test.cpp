// The search palette of the real `tolvane` on a real display: three xterms under an openbox that
// leaves Alt-Space alone, keys and clicks through XTEST (xdotool), and what the window manager
// reports as active. The palette's keyboard grab is seen in the focus events the server sends
// when it is taken. Every wait ends on an X event or a line of Tolvane's log, bounded; none
// sleeps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/overlay.h"
#include "desktop/support/tolvane_process.h"
#include "desktop/support/x_session.h"

namespace tolvane {
namespace {

constexpr std::uint8_t kAccent[] = {10, 132, 255};

class PaletteInTolvane : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::freeAltSpaceFromOpenbox(x, home.path()));
    ASSERT_TRUE(x.start()) << x.error();
    // What watch() selects, and focus changes.
    const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE |
                                   XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_change_window_attributes(x.xcb(), x.root(), XCB_CW_EVENT_MASK, &rootMask);
    x.observeEvents([this](const xcb_generic_event_t& event) {
      if (test::keyboardGrabbedForPanel(event, x.root())) ++grabs_;
    });
    for (const char* title : {"alpha", "notes", "build"}) {
      const auto term = x.startXterm(title);
      ASSERT_TRUE(term);
      windowTitled[title] = term->windows[0];
      const std::uint32_t mask = XCB_EVENT_MASK_FOCUS_CHANGE;
      xcb_change_window_attributes(x.xcb(), term->windows[0], XCB_CW_EVENT_MASK, &mask);
    }
    tolvane = std::make_unique<test::TolvaneProcess>(TOLVANE_EXECUTABLE, x.display(), home.path());
    ASSERT_TRUE(waitForLog("window snapshot warmed")) << tolvane->log();
    ASSERT_TRUE(waitForLog("palette hotkey registered keyCode=49 modifiers=2048"))
        << tolvane->log();
    // Most recent first: build, alpha, notes.
    for (const char* title : {"notes", "alpha", "build"}) ASSERT_NO_FATAL_FAILURE(activate(title));
  }

  /// Types keys through XTEST, as a user would: "key n o t Return".
  void type(const std::string& keys) {
    std::vector<std::string> args;
    std::istringstream words(keys);
    for (std::string word; words >> word;) args.push_back(word);
    ASSERT_TRUE(test::xdotool(x, args));
  }
  bool waitForLog(const std::string& text, int times = 1) {
    return x.waitUntil([&] { return tolvane->count(text) >= times; }, {tolvane->pump()});
  }
  /// Activates a window as a pager would, once Tolvane's focus history has it too.
  void activate(const std::string& title) {
    const xcb_window_t window = windowTitled.at(title);
    if (x.activeWindow() == window) return;
    const std::string seen = "x11: focus " + std::to_string(window) + "\n";
    const int before = tolvane->count(seen);
    x.sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
    ASSERT_TRUE(waitForActive(title));
    ASSERT_TRUE(waitForLog(seen, before + 1)) << tolvane->log();
  }
  bool waitForActive(const std::string& title) {
    return x.waitUntil([&] { return x.activeWindow() == windowTitled.at(title); },
                       {tolvane->pump()});
  }

  std::optional<xcb_get_geometry_reply_t> palette() {
    return test::mappedOverlay(x.xcb(), x.root());
  }
  /// The hot key (Alt-Space unless changed), until the palette is on screen and has taken the
  /// keyboard.
  void open(const std::string& hotKey = "alt+space") {
    const int grabs = grabs_;
    type("key " + hotKey);
    ASSERT_TRUE(x.waitUntil([&] { return grabs_ > grabs && palette(); }, {tolvane->pump()}))
        << tolvane->log();
  }
  /// Until the palette is gone; it gives the keyboard back before it leaves the screen.
  bool waitClosed() {
    return x.waitUntil([&] { return !palette(); }, {tolvane->pump()});
  }
  /// Whether another client's keyboard grab is refused now.
  bool keyboardIsTaken() {
    auto* reply =
        xcb_grab_keyboard_reply(x.xcb(),
                                xcb_grab_keyboard(x.xcb(), 0, x.root(), XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr);
    const bool taken = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
      xcb_ungrab_keyboard(x.xcb(), XCB_CURRENT_TIME);
    }
    std::free(reply);
    x.sync();
    return taken;
  }
  /// Whether the palette shows the accent colour as text (a matched character), not only as the
  /// selected row's background. No event announces painting, so each check is a round trip.
  bool waitForMatchesPainted() {
    const auto deadline = std::chrono::steady_clock::now() + test::XSession::kBound;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto panel = palette();
      if (panel &&
          test::showsColourAsText(x.xcb(), x.root(), *panel, kAccent[0], kAccent[1], kAccent[2])) {
        return true;
      }
    }
    return false;
  }

  test::XSession x;
  test::TempDir home;
  std::unique_ptr<test::TolvaneProcess> tolvane;
  std::map<std::string, xcb_window_t> windowTitled;

 private:
  int grabs_ = 0;
};

TEST_F(PaletteInTolvane, AltSpaceOpensItOverTheActiveWindowAndAgainClosesIt) {
  ASSERT_NO_FATAL_FAILURE(open());
  const auto panel = palette();
  ASSERT_TRUE(panel);
  EXPECT_EQ(panel->width, 600);
  EXPECT_EQ(panel->height, 420);
  EXPECT_TRUE(keyboardIsTaken());
  EXPECT_EQ(x.activeWindow(), windowTitled.at("build"));

  type("key alt+space");
  ASSERT_TRUE(waitClosed()) << tolvane->log();
  EXPECT_FALSE(keyboardIsTaken());
  EXPECT_EQ(x.activeWindow(), windowTitled.at("build"));
}

TEST_F(PaletteInTolvane, TypingFiltersAndReturnActivatesTheMatch) {
  ASSERT_NO_FATAL_FAILURE(open());
  // Unfiltered, Return would keep "build", the first row.
  type("key n o t Return");
  ASSERT_TRUE(waitForActive("notes")) << tolvane->log();
  EXPECT_TRUE(waitClosed());
}

TEST_F(PaletteInTolvane, EscapeClearsTheQueryFirstAndClosesSecond) {
  // Had Escape closed the palette, "alp" and Return would have gone to "build"; had it kept
  // the text, "notalp" would match nothing.
  ASSERT_NO_FATAL_FAILURE(open());
  type("key n o t Escape a l p Return");
  ASSERT_TRUE(waitForActive("alpha")) << tolvane->log();
  ASSERT_TRUE(waitClosed());

  ASSERT_NO_FATAL_FAILURE(open());
  type("key n o t Escape Escape");
  ASSERT_TRUE(waitClosed()) << tolvane->log();
  EXPECT_EQ(x.activeWindow(), windowTitled.at("alpha"));
}

TEST_F(PaletteInTolvane, AClickOutsideClosesIt) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_TRUE(test::xdotool(x, {"mousemove", "5", "5", "click", "1"}));
  ASSERT_TRUE(waitClosed()) << tolvane->log();
  EXPECT_EQ(x.activeWindow(), windowTitled.at("build"));
}

TEST_F(PaletteInTolvane, SuperAndADigitPicksThatRow) {
  ASSERT_NO_FATAL_FAILURE(open());
  type("key super+2");
  ASSERT_TRUE(waitForActive("alpha")) << tolvane->log();
  EXPECT_TRUE(waitClosed());
}

TEST_F(PaletteInTolvane, AQueryIsPaintedWithItsMatches) {
  ASSERT_NO_FATAL_FAILURE(open());
  // "l" is in "build" (the selected row, underlined) and in "alpha", drawn in the accent.
  type("key l");
  ASSERT_TRUE(waitForMatchesPainted()) << tolvane->log();
  const char* artifacts = std::getenv("TOLVANE_TEST_ARTIFACTS");
  const std::string shot = std::string(artifacts ? artifacts : ".") + "/desktop-palette.png";
  std::system(("import -display " + x.display() + " -window root " + shot).c_str());
  std::printf("palette screenshot: %s\n", shot.c_str());
}

TEST_F(PaletteInTolvane, TheRecorderInTolvaneMovesTheHotKey) {
  const std::string shown = "test hook: recorder window=";
  ASSERT_EQ(tolvane->sendURL("tolvane://test-recorder"), 0);
  ASSERT_TRUE(waitForLog(shown)) << tolvane->log();
  windowTitled["recorder"] = static_cast<xcb_window_t>(std::strtoul(
      tolvane->log().c_str() + tolvane->log().find(shown) + shown.size(), nullptr, 10));
  ASSERT_TRUE(waitForActive("recorder")) << tolvane->log();
  EXPECT_EQ(tolvane->count("test hook: recorder recording=0 chips=⌥Space reset=0"), 1);

  // The recorder sits at the window's origin, 28 pixels high.
  const std::string window = std::to_string(windowTitled.at("recorder"));
  ASSERT_TRUE(test::xdotool(x, {"mousemove", "--window", window, "12", "14", "click", "1"}));
  ASSERT_TRUE(waitForLog("test hook: recorder recording=1 chips= reset=0")) << tolvane->log();
  type("key ctrl+shift+k");
  ASSERT_TRUE(waitForLog("test hook: recorder recording=0 chips=⌃⇧K reset=1")) << tolvane->log();
  EXPECT_EQ(tolvane->count("palette hotkey registered keyCode=40 modifiers=4608"), 1);

  ASSERT_NO_FATAL_FAILURE(open("ctrl+shift+k"));
  type("key Escape");
  ASSERT_TRUE(waitClosed());
  EXPECT_TRUE(test::comboIsFree(x, 65, XCB_MOD_MASK_1)) << "Alt-Space is still held";
}

}  // namespace
}  // namespace tolvane
