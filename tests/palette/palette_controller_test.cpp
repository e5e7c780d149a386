// The palette on the simulated desktop: its keys and clicks, closing by Escape and by losing
// the keyboard, the sampled session report, the switcher's precedence, and a window that went
// away while listed.
#include "palette/palette_controller.h"

#include <gtest/gtest.h>

#include <functional>

#include "model/key_codes.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using namespace keycode;
constexpr auto kCmd = eventflags::kCommand;
constexpr auto kCtrl = eventflags::kControl;

// Budget and Report of Editor, Inbox of Mail; most recently used in that order.
struct PaletteScene : test::PaletteServices {
  PaletteScene() {
    addEditorAndMail();
    listEditorAndMail();  // the switcher lists what the cache holds
  }
  bool key(std::uint16_t code, std::uint64_t flags = 0) { return keys.press(code, flags); }
  /// The windows the activator was asked for.
  std::vector<std::string> activations() { return linesStartingWith("activate pid="); }
};

const std::string kActivated11 = "activate pid=100 window=11 ok=true";
const std::string kActivated12 = "activate pid=100 window=12 ok=true";
const std::string kActivated21 = "activate pid=200 window=21 ok=true";

TEST(PaletteControllerTest, KeysAndClicksOnTheOpenPalette) {
  struct Row {
    const char* what;
    std::string query;
    std::function<bool(PaletteScene&)> act;
    bool consumed, open;
    std::optional<std::size_t> selected;
    std::vector<std::string> activated;
  };
  const auto press = [](std::uint16_t code, std::uint64_t flags = 0) {
    return [=](PaletteScene& s) { return s.key(code, flags); };
  };
  const auto click = [](int row, int count) {
    return [=](PaletteScene& s) { return s.palettePanel.click(row, count); };
  };
  const auto closeThenReturn = [](std::uint32_t window) {
    return [=](PaletteScene& s) {
      s.desktop.closeWindow(window);
      return s.key(kReturn);
    };
  };
  const Row rows[] = {
      // Command-digit confirms that row; past the last row it is swallowed and does nothing;
      // with another modifier it is typing.
      {"Cmd-3", "", press(kDigits[2], kCmd), true, false, {}, {kActivated21}},
      {"Cmd-5 of three", "", press(kDigits[4], kCmd), true, true, 0, {}},
      {"Cmd-Shift-1", "", press(kDigits[0], kCmd | eventflags::kShift), false, true, 0, {}},
      // Arrows and Control-N/P move without wrapping; Control-Option-N is typing.
      {"Down", "", press(kDown), true, true, 1, {}},
      {"Up on the first row", "", press(kUp), true, true, 0, {}},
      {"Control-N", "", press(45, kCtrl), true, true, 1, {}},
      {"Control-P", "", press(35, kCtrl), true, true, 0, {}},
      {"Control-Option-N", "", press(45, kCtrl | eventflags::kOption), false, true, 0, {}},
      {"Tab", "", press(kTab), false, true, 0, {}},
      // Return and keypad Enter confirm the selection; without results they are swallowed.
      {"Return", "rep", press(kReturn), true, false, {}, {kActivated12}},
      {"keypad Enter", "", press(kKeypadEnter), true, false, {}, {kActivated11}},
      {"Return without results", "zzz", press(kReturn), true, true, {}, {}},
      // A window closed while listed is still the one asked for, never another one.
      {"Return on a window closed since", "", closeThenReturn(11), true, false, {}, {kActivated11}},
      // A click selects; a double click confirms.
      {"click", "", click(2, 1), true, true, 2, {}},
      {"double click", "", click(1, 2), true, false, {}, {kActivated12}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    PaletteScene scene;
    scene.palette.show();
    if (!row.query.empty()) scene.palettePanel.type(row.query);
    EXPECT_EQ(row.act(scene), row.consumed);
    EXPECT_EQ(scene.palette.isOpen(), row.open);
    EXPECT_EQ(scene.palettePanel.visible, row.open);
    if (row.open) {
      EXPECT_EQ(scene.palette.model().selectionIndex(), row.selected);
    }
    EXPECT_EQ(scene.activations(), row.activated);
  }
}

TEST(PaletteControllerTest, EscapeClearsThenClosesAndLosingTheKeyboardCloses) {
  PaletteScene scene;
  scene.palette.show();
  const auto& frame = scene.palettePanel.last->frame;
  // Centred, with its centre 62 % up the visible frame {0, 25, 1512, 875}.
  ASSERT_TRUE(frame);
  EXPECT_DOUBLE_EQ(frame->x, 456);
  EXPECT_DOUBLE_EQ(frame->y, 25 + 0.38 * 875 - 210);
  scene.palettePanel.type("inb");
  EXPECT_EQ(scene.palette.model().visible().size(), 1u);
  EXPECT_TRUE(scene.key(kEscape));
  EXPECT_EQ(scene.palettePanel.last->query, "");
  EXPECT_EQ(scene.palettePanel.last->rows.size(), 3u);
  EXPECT_TRUE(scene.palette.isOpen());
  EXPECT_TRUE(scene.key(kEscape));
  EXPECT_FALSE(scene.palettePanel.visible);
  EXPECT_EQ(scene.keys.monitorCount(), 0u);  // a closed palette reads no keys

  scene.palette.show();
  scene.palettePanel.resign();
  EXPECT_TRUE(scene.palette.isOpen());  // the close comes on the next turn of the loop
  scene.loop.runUntilIdle();
  EXPECT_FALSE(scene.palettePanel.visible);
  // A close meant for an earlier opening leaves the next one alone.
  scene.palette.show();
  scene.palettePanel.resign();
  scene.palette.toggle();
  scene.palette.toggle();
  scene.loop.runUntilIdle();
  EXPECT_TRUE(scene.palettePanel.visible);
}

TEST(PaletteControllerTest, OneSessionEventPerOpeningTimedFromTheLastShow) {
  PaletteScene scene;
  scene.random.forced = {0, 0, 0};
  scene.palette.show();
  scene.clock.advance(5);
  scene.palette.show();
  scene.clock.advance(1.25);
  scene.palettePanel.type("o");  // all three match with one point: recency decides
  scene.key(kDown);
  scene.key(kReturn);
  scene.palette.close();
  using P = std::map<std::string, EventValue>;
  ASSERT_EQ(scene.usage.events.size(), 2u);  // the session, then the activation's own
  EXPECT_EQ(scene.usage.events[0].name, "session");
  EXPECT_EQ(scene.usage.events[0].properties, (P{{"trigger", std::string("optSpace")},
                                                 {"ms", std::int64_t{1250}},
                                                 {"keystrokes", std::int64_t{2}},
                                                 {"resultIndex", std::int64_t{1}},
                                                 {"cancelled", false},
                                                 {"searchChars", std::int64_t{1}},
                                                 {"sample", std::int64_t{5}}}));
  EXPECT_EQ(scene.activations(), std::vector<std::string>{kActivated12});

  // Four sessions in five are not reported; a cancelled one says so.
  scene.random.forced = {3, 0};
  scene.palette.show();
  scene.key(kEscape);
  scene.palette.show();
  scene.palette.toggle();
  ASSERT_EQ(scene.usage.events.size(), 3u);
  EXPECT_EQ(scene.usage.events[2].properties.at("cancelled"), EventValue(true));
  EXPECT_EQ(scene.usage.events[2].properties.at("resultIndex"), EventValue(std::int64_t{-1}));
}

TEST(PaletteControllerTest,
     NeverOpensDuringASwitcherSessionAndWhileOpenAStallFreesTheKeysEvenWhenPaused) {
  PaletteScene scene;
  scene.ready();
  scene.tap.modifier(kLeftCommand, true, kCmd);
  scene.tap.deliver(KeyEventType::keyDown, kTab, kCmd);
  scene.palette.toggle();
  EXPECT_EQ(scene.palettePanel.shows, 0);
  EXPECT_EQ(scene.linesStartingWith("palette:"),
            std::vector<std::string>{"palette: not opened, a switcher session holds the keyboard"});
  scene.tap.modifier(kLeftCommand, false, 0);  // the session commits and lets go
  scene.palette.show();
  // A switcher session that starts and ends while the palette is open must not end the hold.
  scene.tap.modifier(kLeftCommand, true, kCmd);
  scene.tap.deliver(KeyEventType::keyDown, kTab, kCmd);
  scene.tap.modifier(kLeftCommand, false, 0);
  scene.loop.runUntilIdle();
  auto& watchdog = scene.guard.watchdog();
  scene.stallMainThread(watchdog, 0.4);
  EXPECT_EQ(scene.linesStartingWith("watchdog:"),
            std::vector<std::string>{"watchdog: main stalled 400 ms — keyboard released"});

  // Paused, the switcher has no tap and no trigger to watch; the palette's grab is watched all
  // the same, and a second of a live main thread is no stall.
  scene.settings.setSwitcherPaused(true);
  ASSERT_FALSE(scene.tap.exists());
  scene.palette.show();
  scene.tap.setWindowGrabHeld(true);  // as the backend's grab tells the real tap
  scene.loop.advance(1.0);
  watchdog.check();
  EXPECT_TRUE(scene.tap.windowGrabHeld());
  scene.stallMainThread(watchdog, 0.4);
  EXPECT_FALSE(scene.tap.windowGrabHeld());
}

}  // namespace
}  // namespace tolvane
