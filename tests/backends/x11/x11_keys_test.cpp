// Global hot keys on a real server, typed through XTEST: each press fires once, and a combination
// another client owns is refused without leaving a grab behind.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backends/x11/x11_hot_keys.h"
#include "support/x11/desktop_tools.h"
#include "support/x11/x_session.h"

namespace tolvane::test {
namespace {

using x11::Reply;

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

}  // namespace
}  // namespace tolvane::test
