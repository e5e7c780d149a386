// Key translation against a real server's keyboard, and global hot keys typed through XTEST.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backends/x11/x11_hot_keys.h"
#include "backends/x11/x11_keys.h"
#include "desktop/support/desktop_tools.h"
#include "desktop/support/x_session.h"
#include "model/key_combo.h"

namespace tolvane::test {
namespace {

using x11::KeyMap;
using x11::Reply;

class X11KeyMapTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(session_.start(false)) << session_.error(); }
  XSession session_;
};

// Which keycodes Tab, the key above it, Super and Alt are, and that lock bits are no product
// flags, is proven by the event tap test typing them.
TEST_F(X11KeyMapTest, EveryNamedKeyHasItsKeyOnUsAndLatinLettersNameTheKeysOfACyrillicLayout) {
  ASSERT_TRUE(runToExit(session_, {"setxkbmap", "us"}));
  KeyMap keys(session_.xcb());
  for (std::uint16_t code = 0; code < 256; ++code) {
    if (!keycombo::keyName(code)) continue;
    SCOPED_TRACE(code);
    const auto keycodes = keys.keycodes(code);
    ASSERT_FALSE(keycodes.empty());
    for (xcb_keycode_t keycode : keycodes) EXPECT_EQ(keys.keyCode(keycode), code);
  }
  // (Which keys a French layout's labels name is proven by the hot key test typing on one.)

  // A Cyrillic first group: the Latin letters of the second group still name the keys.
  ASSERT_TRUE(runToExit(session_, {"setxkbmap", "-layout", "ru,us"}));
  KeyMap cyrillic(session_.xcb());
  EXPECT_EQ(cyrillic.keycodes(0), std::vector<xcb_keycode_t>{38});
  EXPECT_EQ(cyrillic.keyCode(38), 0);
}

class X11HotKeysTest : public ::testing::Test {
 protected:
  /// Counts the key presses the connection reads, before the hot keys see them.
  struct PressCounter : x11::EventSink {
    bool handleEvent(const xcb_generic_event_t& event) override {
      if (x11::eventType(event) == XCB_KEY_PRESS) {
        ++presses[reinterpret_cast<const xcb_key_press_event_t&>(event).detail];
      }
      return false;
    }
    std::map<xcb_keycode_t, int> presses;
  };

  void start() {
    ASSERT_TRUE(session_.start(false)) << session_.error();
    connection_ = x11::Connection::open(session_.display().c_str());
    ASSERT_TRUE(connection_);
    connection_->addSink(&counter_);
    hotKeys_ = std::make_unique<x11::X11HotKeys>(*connection_);
  }
  void TearDown() override {
    if (connection_) connection_->removeSink(&counter_);
  }

  /// Waits until `done` holds, reading the hot keys' connection meanwhile.
  bool waitUntil(const std::function<bool()>& done) {
    return session_.waitUntil(done, {{xcb_get_file_descriptor(connection_->xcb()),
                                      [this] { return connection_->dispatchPending(); }}});
  }

  XSession session_;
  PressCounter counter_;
  std::unique_ptr<x11::Connection> connection_;
  std::unique_ptr<x11::X11HotKeys> hotKeys_;
};

// Hot-key modifier encoding.
constexpr std::uint32_t kCommandMask = 256;
constexpr std::uint32_t kShiftMask = 512;
constexpr std::uint32_t kOptionMask = 2048;
constexpr std::uint32_t kControlMask = 4096;
constexpr std::uint32_t kP = 35;
constexpr std::uint32_t kO = 31;

TEST_F(X11HotKeysTest, FiresOncePerPressHeldOrNotUntilUnregistered) {
  ASSERT_NO_FATAL_FAILURE(start());
  int p = 0;
  int o = 0;
  const auto superShiftP = hotKeys_->registerHotKey(kP, kCommandMask | kShiftMask, [&] { ++p; });
  const auto controlAltO = hotKeys_->registerHotKey(kO, kControlMask | kOptionMask, [&] { ++o; });
  ASSERT_TRUE(superShiftP && controlAltO);
  EXPECT_NE(*superShiftP, *controlAltO);

  // The server reports a client's events in order: once the last key's handler ran, every
  // event of the keys typed before it has been handled.
  ASSERT_TRUE(xdotool(session_, {"key", "super+shift+p", "p", "super+shift+p", "ctrl+alt+o"}));
  ASSERT_TRUE(waitUntil([&] { return o == 1; }));
  EXPECT_EQ(p, 2);

  // The server's autorepeat reports a held key as further presses.
  const int pressesBefore = counter_.presses[33];
  ASSERT_TRUE(xdotool(session_, {"keydown", "super+shift+p"}));
  ASSERT_TRUE(waitUntil([&] { return counter_.presses[33] >= pressesBefore + 3; }));
  ASSERT_TRUE(xdotool(session_, {"keyup", "super+shift+p", "key", "ctrl+alt+o"}));
  ASSERT_TRUE(waitUntil([&] { return o == 2; }));
  EXPECT_EQ(p, 3);

  hotKeys_->unregisterHotKey(*superShiftP);
  ASSERT_TRUE(xdotool(session_, {"key", "super+shift+p", "ctrl+alt+o"}));
  ASSERT_TRUE(waitUntil([&] { return o == 3; }));
  EXPECT_EQ(p, 3);
  EXPECT_EQ(grabKeyError(session_, 33, XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT), 0);
}

TEST_F(X11HotKeysTest, ACombinationOwnedElsewhereIsRefusedAndLeavesNothingGrabbed) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(grabKeyError(session_, 33, XCB_MOD_MASK_4 | XCB_MOD_MASK_LOCK), 0);
  EXPECT_FALSE(hotKeys_->registerHotKey(kP, kCommandMask, [] {}));
  Reply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(
      connection_->xcb(), xcb_get_input_focus(connection_->xcb()), nullptr));
  // The variants grabbed before the refusal were given back.
  EXPECT_EQ(grabKeyError(session_, 33, XCB_MOD_MASK_4), 0);
  EXPECT_EQ(grabKeyError(session_, 33, XCB_MOD_MASK_4 | XCB_MOD_MASK_2), 0);

  // This client's own registration counts as owned too.
  ASSERT_TRUE(hotKeys_->registerHotKey(kO, kOptionMask, [] {}));
  EXPECT_FALSE(hotKeys_->registerHotKey(kO, kOptionMask, [] {}));
}

TEST_F(X11HotKeysTest, OnAFrenchLayoutACombinationIsTheKeyLabelledWithIt) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(runToExit(session_, {"setxkbmap", "fr"}));
  hotKeys_ = std::make_unique<x11::X11HotKeys>(*connection_);
  constexpr std::uint32_t kA = 0;
  constexpr std::uint32_t kSemicolon = 41;
  constexpr std::uint32_t kOne = 18;
  std::map<std::uint32_t, int> fired;
  for (std::uint32_t code : {kA, kSemicolon, kOne}) {
    ASSERT_TRUE(
        hotKeys_->registerHotKey(code, kControlMask | kShiftMask, [&, code] { ++fired[code]; }));
  }
  // xdotool finds each keysym's key in the French map: "a" where US has Q, ";" where US has
  // "," (and nothing fires for the key where US has "a", which types "q" here).
  ASSERT_TRUE(xdotool(session_, {"key", "ctrl+shift+q", "ctrl+shift+a", "ctrl+shift+semicolon"}));
  ASSERT_TRUE(waitUntil([&] { return fired[kSemicolon] == 1; }));
  EXPECT_EQ(fired[kA], 1);
  // The digit row by position: Control-Shift with the key marked 1 (keycode 10).
  ASSERT_TRUE(xdotool(session_, {"key", "ctrl+shift+ampersand"}));
  ASSERT_TRUE(waitUntil([&] { return fired[kOne] == 1; }));
}

}  // namespace
}  // namespace tolvane::test
