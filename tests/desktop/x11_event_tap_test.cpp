// The X11 event tap against a private X server, with keys typed through XTEST (xdotool).
#include "platform/x11/x11_event_tap.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "desktop/support/desktop_tools.h"
#include "desktop/support/x_session.h"
#include "input/key_codes.h"

namespace tolvane::test {
namespace {

using x11::Reply;
using x11::TriggerSettings;
using x11::X11EventTap;

constexpr std::uint64_t kCommand = eventflags::kCommand;
constexpr std::uint64_t kOption = eventflags::kOption;
constexpr std::uint64_t kShift = eventflags::kShift;

// Keycodes of Xvfb's default (evdev) keymap, and its modifier bits.
constexpr xcb_keycode_t kTabKeycode = 23;
constexpr xcb_keycode_t kKeyAboveTabKeycode = 49;
constexpr std::uint16_t kSuperMask = XCB_MOD_MASK_4;
constexpr std::uint16_t kNumLockMask = XCB_MOD_MASK_2;

/// An event as the callback saw it, readable in a failure message: "keyDown 48 Command|Shift".
std::string describe(const KeyEvent& event) {
  static const char* const kTypes[] = {"keyDown", "keyUp", "flagsChanged", "disabledByTimeout",
                                       "disabledByUserInput"};
  std::string flags;
  for (auto [flag, name] :
       {std::pair{kCommand, "Command"}, std::pair{kOption, "Option"},
        std::pair{eventflags::kControl, "Control"}, std::pair{kShift, "Shift"}}) {
    if (event.flags & flag) flags += (flags.empty() ? "" : "|") + std::string(name);
  }
  return std::string(kTypes[static_cast<int>(event.type)]) + " " + std::to_string(event.keyCode) +
         " " + (flags.empty() ? "-" : flags);
}

/// A focused window of a client of its own that records the key events it receives.
class Witness {
 public:
  explicit Witness(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {}
  ~Witness() { xcb_disconnect(c_); }
  Witness(const Witness&) = delete;
  Witness& operator=(const Witness&) = delete;

  /// Maps the window and gives it the input focus.
  bool show(XSession& session) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    window_ = xcb_generate_id(c_);
    const std::uint32_t mask = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                               XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &mask);
    xcb_map_window(c_, window_);
    xcb_flush(c_);
    if (!session.waitUntil([&] { return mapped_; }, {pump()})) return false;
    xcb_set_input_focus(c_, XCB_INPUT_FOCUS_PARENT, window_, XCB_CURRENT_TIME);
    xcb_flush(c_);
    return session.waitUntil([&] { return focused_; }, {pump()});
  }

  PumpedConnection pump() {
    return {xcb_get_file_descriptor(c_), [this] {
              int count = 0;
              while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
                record(*event);
                std::free(event);
                ++count;
              }
              return count;
            }};
  }

  bool received(bool press, xcb_keycode_t keycode) const {
    return std::any_of(keys_.begin(), keys_.end(), [&](const Key& key) {
      return key.press == press && key.keycode == keycode;
    });
  }
  /// The modifier state of the first press of `keycode`.
  std::optional<std::uint16_t> pressState(xcb_keycode_t keycode) const {
    for (const Key& key : keys_) {
      if (key.press && key.keycode == keycode) return key.state;
    }
    return std::nullopt;
  }

 private:
  void record(const xcb_generic_event_t& event) {
    const auto type = x11::eventType(event);
    if (type == XCB_MAP_NOTIFY) mapped_ = true;
    if (type == XCB_FOCUS_IN) focused_ = true;
    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
      const auto& key = reinterpret_cast<const xcb_key_press_event_t&>(event);
      keys_.push_back({type == XCB_KEY_PRESS, key.detail, key.state});
    }
  }

  struct Key {
    bool press;
    xcb_keycode_t keycode;
    std::uint16_t state;
  };

  xcb_connection_t* c_;
  xcb_window_t window_ = XCB_WINDOW_NONE;
  bool mapped_ = false;
  bool focused_ = false;
  std::vector<Key> keys_;
};

class X11EventTapTest : public ::testing::Test {
 protected:
  /// A display without a window manager, and the tap's own connection.
  void start() {
    ASSERT_TRUE(session_.start(false)) << session_.error();
    connection_ = x11::Connection::open(session_.display().c_str());
    ASSERT_TRUE(connection_);
    tap_ = std::make_unique<X11EventTap>(
        *connection_, [this] { return x11::triggerCombinations(settings_); },
        [this](std::string_view line) { log_.emplace_back(line); });
  }

  bool create() {
    return tap_->create([this](const KeyEvent& event) {
      events_.push_back(describe(event));
      return verdict_;
    });
  }

  PumpedConnection pump() {
    return {xcb_get_file_descriptor(connection_->xcb()),
            [this] { return connection_->dispatchPending(); }};
  }

  bool type(std::vector<std::string> args) { return xdotool(session_, std::move(args)); }

  /// Waits until the callback has seen `count` events.
  bool waitForEvents(std::size_t count) {
    return session_.waitUntil([&] { return events_.size() >= count; }, {pump()});
  }

  /// Makes sure the server has handled every request the tap sent.
  void syncTap() {
    Reply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(
        connection_->xcb(), xcb_get_input_focus(connection_->xcb()), nullptr));
  }

  /// What another client is told when it grabs the keyboard; a successful grab is undone.
  std::uint8_t otherClientGrabsKeyboard() {
    xcb_connection_t* c = session_.xcb();
    Reply<xcb_grab_keyboard_reply_t> reply(
        xcb_grab_keyboard_reply(c,
                                xcb_grab_keyboard(c, 0, session_.root(), XCB_CURRENT_TIME,
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr));
    if (!reply) return 0xff;
    if (reply->status == XCB_GRAB_STATUS_SUCCESS) {
      xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
      session_.sync();
    }
    return reply->status;
  }

  /// The X error another client gets for a passive grab (0: it got it, and keeps it).
  std::uint8_t otherClientGrabsKey(xcb_keycode_t keycode, std::uint16_t modifiers) {
    Reply<xcb_generic_error_t> error(xcb_request_check(
        session_.xcb(), xcb_grab_key_checked(session_.xcb(), 0, session_.root(), modifiers, keycode,
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    return error ? error->error_code : 0;
  }

  XSession session_;
  std::unique_ptr<x11::Connection> connection_;
  TriggerSettings settings_{.interceptTab = true, .interceptKeyAboveTab = true};
  TapVerdict verdict_ = TapVerdict::consume;
  std::vector<std::string> events_;
  std::vector<std::string> log_;
  std::unique_ptr<X11EventTap> tap_;
};

TEST_F(X11EventTapTest, TriggersReachTheCallbackInProductCodes) {
  struct Row {
    bool option;
    const char* keys;
    std::vector<std::string> expected;
  };
  // The whole combination is typed before the tap reads its first event, so the trigger
  // modifier is already up when the session starts: its release comes from the key state.
  const Row rows[] = {
      {false, "super+Tab", {"keyDown 48 Command", "flagsChanged 55 -"}},
      {false, "super+shift+Tab", {"keyDown 48 Command|Shift", "flagsChanged 55 -"}},
      {false, "super+grave", {"keyDown 50 Command", "flagsChanged 55 -"}},
      {false, "Super_R+Tab", {"keyDown 48 Command", "flagsChanged 55 -"}},
      {true, "alt+Tab", {"keyDown 48 Option", "flagsChanged 58 -"}},
      {true, "alt+shift+grave", {"keyDown 50 Option|Shift", "flagsChanged 58 -"}},
  };
  ASSERT_NO_FATAL_FAILURE(start());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keys);
    settings_.triggerIsOption = row.option;
    events_.clear();
    ASSERT_TRUE(create());
    ASSERT_TRUE(type({"key", row.keys}));
    ASSERT_TRUE(waitForEvents(row.expected.size()));
    EXPECT_EQ(events_, row.expected);
    syncTap();
    EXPECT_FALSE(tap_->holdsKeyboard());
    EXPECT_EQ(otherClientGrabsKeyboard(), XCB_GRAB_STATUS_SUCCESS);
    tap_->destroy();
  }
}

TEST_F(X11EventTapTest, AConsumedTriggerHoldsTheKeyboardUntilTheModifierIsReleased) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(create());
  ASSERT_TRUE(type({"keydown", "super", "key", "Tab"}));
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_TRUE(tap_->holdsKeyboard());
  EXPECT_EQ(otherClientGrabsKeyboard(), XCB_GRAB_STATUS_ALREADY_GRABBED);
  // Keys no combination names reach the callback too, while Super stays down.
  // xdotool releases Shift before Tab.
  ASSERT_TRUE(type({"key", "Tab", "Down", "shift+Tab", "keyup", "super"}));
  ASSERT_TRUE(waitForEvents(9));
  EXPECT_EQ(events_, (std::vector<std::string>{
                         "keyDown 48 Command",
                         "keyUp 48 Command",
                         "keyDown 48 Command",
                         "keyUp 48 Command",
                         "keyDown 125 Command",
                         "keyUp 125 Command",
                         "flagsChanged 56 Command|Shift",
                         "keyDown 48 Command|Shift",
                         "flagsChanged 56 Command",
                         "keyUp 48 Command",
                         "flagsChanged 55 -",
                     }));
  syncTap();
  EXPECT_FALSE(tap_->holdsKeyboard());
  EXPECT_EQ(otherClientGrabsKeyboard(), XCB_GRAB_STATUS_SUCCESS);
  // Window managers honour activations stamped with the time of the input behind them.
  EXPECT_NE(connection_->userTime(), XCB_CURRENT_TIME);
}

TEST_F(X11EventTapTest, FollowsTheModifierMapping) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(create());
  // Super's keys move from Mod4 to Mod3; the grabs must move with them.
  xcb_connection_t* c = session_.xcb();
  Reply<xcb_get_modifier_mapping_reply_t> mapping(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  ASSERT_TRUE(mapping);
  const int perModifier = mapping->keycodes_per_modifier;
  const xcb_keycode_t* current = xcb_get_modifier_mapping_keycodes(mapping.get());
  std::vector<xcb_keycode_t> table(current, current + 8 * perModifier);
  std::copy(table.begin() + 6 * perModifier, table.begin() + 7 * perModifier,
            table.begin() + 5 * perModifier);
  std::fill(table.begin() + 6 * perModifier, table.begin() + 7 * perModifier, 0);
  Reply<xcb_set_modifier_mapping_reply_t> set(xcb_set_modifier_mapping_reply(
      c, xcb_set_modifier_mapping(c, static_cast<std::uint8_t>(perModifier), table.data()),
      nullptr));
  ASSERT_TRUE(set && set->status == XCB_MAPPING_STATUS_SUCCESS);

  // The change notice reached the tap before the reply to its later request: reading both lets
  // the tap move its grabs before anything is typed.
  syncTap();
  connection_->dispatchPending();
  ASSERT_TRUE(type({"key", "super+Tab"}));
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(events_, (std::vector<std::string>{"keyDown 48 Command", "flagsChanged 55 -"}));
  EXPECT_TRUE(tap_->isEnabled());
}

TEST_F(X11EventTapTest, WithoutASessionTheNextKeysReachTheFocusedWindow) {
  ASSERT_NO_FATAL_FAILURE(start());
  Witness witness(session_.display());
  ASSERT_TRUE(witness.show(session_));
  // A passed trigger: the grab its press activated ended with the Tab key.
  verdict_ = TapVerdict::pass;
  ASSERT_TRUE(create());
  ASSERT_TRUE(type({"keydown", "super", "key", "Tab", "key", "x"}));
  ASSERT_TRUE(
      session_.waitUntil([&] { return witness.received(true, 53); }, {pump(), witness.pump()}));
  EXPECT_EQ(events_, std::vector<std::string>{"keyDown 48 Command"});
  EXPECT_FALSE(tap_->holdsKeyboard());

  // A session the switcher ended (Escape, Return, a digit, a click) while Super is still held.
  verdict_ = TapVerdict::consume;
  events_.clear();
  ASSERT_TRUE(type({"key", "Tab"}));
  ASSERT_TRUE(waitForEvents(1));
  ASSERT_TRUE(tap_->holdsKeyboard());
  tap_->sessionEnded();
  ASSERT_TRUE(type({"key", "y", "keyup", "super"}));
  ASSERT_TRUE(
      session_.waitUntil([&] { return witness.received(true, 29); }, {pump(), witness.pump()}));
}

TEST_F(X11EventTapTest, LetGoFromAnotherThreadOrStoppedItDropsTheKeysQueuedMeanwhile) {
  ASSERT_NO_FATAL_FAILURE(start());
  bool stopped = false;
  tap_->setStopDetector([&] { return std::exchange(stopped, false); });
  for (const bool byWatchdog : {true, false}) {
    SCOPED_TRACE(byWatchdog ? "released by the watchdog" : "stopped and continued");
    ASSERT_TRUE(create());
    ASSERT_TRUE(type({"keydown", "super", "key", "Tab"}));
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_TRUE(tap_->holdsKeyboard());
    // The main thread (this one) stops reading; keys pile up behind it.
    events_.clear();
    ASSERT_TRUE(type({"key", "Tab", "keyup", "super", "keydown", "super", "key", "Tab"}));
    syncTap();
    if (byWatchdog) {
      bool released = false;
      std::thread([&] { released = tap_->releaseFromAnyThread(); }).join();
      ASSERT_TRUE(released);
      // Nothing holds the keyboard any more, the main thread not having run at all.
      EXPECT_EQ(otherClientGrabsKeyboard(), XCB_GRAB_STATUS_SUCCESS);
      EXPECT_EQ(otherClientGrabsKey(kTabKeycode, kSuperMask), 0);
      xcb_ungrab_key(session_.xcb(), kTabKeycode, session_.root(), kSuperMask);
      session_.sync();
    } else {
      stopped = true;
    }
    // Back on the main thread: the callback hears of it first, and the queued keys are gone.
    connection_->dispatchPending();
    syncTap();  // the fence's notice, which ends the dropping
    connection_->dispatchPending();
    EXPECT_EQ(events_, std::vector<std::string>{"disabledByTimeout 0 -"});
    EXPECT_FALSE(tap_->isEnabled());
    ASSERT_TRUE(type({"keyup", "super"}));
    // Enabled again, as the engine does, the tap takes fresh keys.
    tap_->setEnabled(true);
    ASSERT_TRUE(tap_->isEnabled());
    events_.clear();
    ASSERT_TRUE(type({"key", "super+Tab"}));
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events_, (std::vector<std::string>{"keyDown 48 Command", "flagsChanged 55 -"}));
    tap_->destroy();
  }
  EXPECT_EQ(log_, std::vector<std::string>{
                      "x11 tap: Tolvane was stopped; keys pressed meanwhile are dropped"});
}

TEST_F(X11EventTapTest, LockKeysDoNotDefeatTheGrab) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(create());
  const auto lockState = [&] {
    Reply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(
        session_.xcb(), xcb_query_pointer(session_.xcb(), session_.root()), nullptr));
    return reply ? reply->mask & (kNumLockMask | XCB_MOD_MASK_LOCK) : 0;
  };
  struct Row {
    std::vector<std::string> toggle;
    std::uint16_t locks;
  };
  const Row rows[] = {
      {{"Num_Lock"}, kNumLockMask},
      {{"Caps_Lock"}, XCB_MOD_MASK_LOCK},
      {{"Num_Lock", "Caps_Lock"}, kNumLockMask | XCB_MOD_MASK_LOCK},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.locks);
    std::vector<std::string> args{"key"};
    args.insert(args.end(), row.toggle.begin(), row.toggle.end());
    ASSERT_TRUE(type(args));
    ASSERT_EQ(lockState(), row.locks);
    events_.clear();
    ASSERT_TRUE(type({"key", "super+Tab"}));
    ASSERT_TRUE(waitForEvents(2));
    // The lock bits are no product flags.
    EXPECT_EQ(events_, (std::vector<std::string>{"keyDown 48 Command", "flagsChanged 55 -"}));
    ASSERT_TRUE(type(args));
    ASSERT_EQ(lockState(), 0);
  }
}

struct RefusalRow {
  bool windowManager;
  bool option;
  /// Another client grabs Super+Shift+Tab first; otherwise openbox owns Alt-Tab.
  bool grabSuperShiftTab;
  const char* reason;
  /// A combination the tap grabbed before the refusal, which must be free again.
  xcb_keycode_t freeKeycode;
  std::uint16_t freeModifiers;
};

class X11EventTapRefusalTest : public X11EventTapTest,
                               public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(X11EventTapRefusalTest, FailsCreationNamesTheCombinationAndLeavesNothingGrabbed) {
  const RefusalRow& row = GetParam();
  ASSERT_NO_FATAL_FAILURE(start());
  settings_.triggerIsOption = row.option;
  if (row.grabSuperShiftTab) {
    ASSERT_EQ(otherClientGrabsKey(kTabKeycode, kSuperMask | XCB_MOD_MASK_SHIFT), 0);
  }
  if (row.windowManager) {
    ASSERT_TRUE(startOpenboxWithBindings(session_));
  }
  EXPECT_FALSE(create());
  EXPECT_FALSE(tap_->isEnabled());
  EXPECT_EQ(tap_->failureReason(), row.reason);
  syncTap();
  EXPECT_EQ(otherClientGrabsKey(row.freeKeycode, row.freeModifiers), 0);
}

INSTANTIATE_TEST_SUITE_P(
    CombinationOwnedElsewhere, X11EventTapRefusalTest,
    ::testing::Values(RefusalRow{false, false, true,
                                 "Super+Shift+Tab is grabbed by another program", kTabKeycode,
                                 kSuperMask},
                      RefusalRow{true, true, false, "Alt+Tab is grabbed by another program",
                                 kKeyAboveTabKeycode, XCB_MOD_MASK_1}),
    [](const auto& info) {
      return info.param.windowManager ? "OpenboxOwnsAltTab" : "AnotherClientOwnsSuperShiftTab";
    });

TEST_F(X11EventTapTest, GivesTheCombinationsBackWhenDisabledOrDestroyed) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(create());
  EXPECT_EQ(otherClientGrabsKey(kTabKeycode, kSuperMask), XCB_ACCESS);

  tap_->setEnabled(false);
  syncTap();
  EXPECT_FALSE(tap_->isEnabled());
  ASSERT_EQ(otherClientGrabsKey(kTabKeycode, kSuperMask), 0);
  // Re-enabling while another client holds a combination fails and stays disabled.
  tap_->setEnabled(true);
  EXPECT_FALSE(tap_->isEnabled());
  EXPECT_EQ(tap_->failureReason(), "Super+Tab is grabbed by another program");
  xcb_ungrab_key(session_.xcb(), kTabKeycode, session_.root(), kSuperMask);
  session_.sync();
  tap_->setEnabled(true);
  EXPECT_TRUE(tap_->isEnabled());
  EXPECT_FALSE(tap_->failureReason());
  EXPECT_EQ(otherClientGrabsKey(kTabKeycode, kSuperMask), XCB_ACCESS);

  // A setting no longer wants the key above Tab.
  settings_.interceptKeyAboveTab = false;
  tap_->reloadCombinations();
  syncTap();
  EXPECT_EQ(otherClientGrabsKey(kKeyAboveTabKeycode, kSuperMask), 0);
  EXPECT_TRUE(tap_->isEnabled());

  tap_->destroy();
  syncTap();
  EXPECT_EQ(otherClientGrabsKey(kTabKeycode, kSuperMask), 0);
  EXPECT_EQ(otherClientGrabsKey(kTabKeycode, kSuperMask | XCB_MOD_MASK_SHIFT), 0);
}

TEST_F(X11EventTapTest, DisablingReleasesTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(create());
  // During a session.
  ASSERT_TRUE(type({"keydown", "super", "key", "Tab"}));
  ASSERT_TRUE(waitForEvents(2));
  ASSERT_TRUE(tap_->holdsKeyboard());
  tap_->setEnabled(false);
  syncTap();
  EXPECT_FALSE(tap_->holdsKeyboard());
  EXPECT_EQ(otherClientGrabsKeyboard(), XCB_GRAB_STATUS_SUCCESS);
  ASSERT_TRUE(type({"keyup", "super"}));

  // With a trigger press still unread.
  tap_->setEnabled(true);
  events_.clear();
  ASSERT_TRUE(type({"key", "super+Tab"}));
  tap_->setEnabled(false);
  syncTap();  // the press was reported before this reply
  connection_->dispatchPending();
  syncTap();
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(otherClientGrabsKeyboard(), XCB_GRAB_STATUS_SUCCESS);
}

TEST_F(X11EventTapTest, IsKeyDownFollowsTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(start());
  Witness witness(session_.display());
  ASSERT_TRUE(witness.show(session_));
  struct Row {
    const char* key;
    xcb_keycode_t keycode;
    std::uint16_t down;
    std::uint16_t other;
  };
  const Row rows[] = {
      {"super", 133, keycode::kLeftCommand, keycode::kRightCommand},
      {"alt", 64, keycode::kLeftOption, keycode::kRightOption},
      // xdotool also presses the first key of the modifier a right-hand modifier key sets.
      {"Super_R", 134, keycode::kRightCommand, keycode::kTab},
      {"Alt_R", 108, keycode::kRightOption, keycode::kTab},
      {"grave", kKeyAboveTabKeycode, keycode::kKeyAboveTab, keycode::kTab},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    // The focused window receiving the key is the proof that the server has processed it.
    ASSERT_TRUE(type({"keydown", row.key}));
    ASSERT_TRUE(
        session_.waitUntil([&] { return witness.received(true, row.keycode); }, {witness.pump()}));
    EXPECT_TRUE(tap_->isKeyDown(row.down));
    EXPECT_FALSE(tap_->isKeyDown(row.other));
    ASSERT_TRUE(type({"keyup", row.key}));
    ASSERT_TRUE(
        session_.waitUntil([&] { return witness.received(false, row.keycode); }, {witness.pump()}));
    EXPECT_FALSE(tap_->isKeyDown(row.down));
  }
}

TEST_F(X11EventTapTest, KeyboardGrabbedElsewhereSeesOtherClientsGrabsOnly) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(create());
  EXPECT_FALSE(tap_->keyboardGrabbedElsewhere());
  // The probe let go of its own grab at once.
  syncTap();
  EXPECT_EQ(otherClientGrabsKeyboard(), XCB_GRAB_STATUS_SUCCESS);

  xcb_connection_t* other = session_.xcb();
  Reply<xcb_grab_keyboard_reply_t> grab(
      xcb_grab_keyboard_reply(other,
                              xcb_grab_keyboard(other, 0, session_.root(), XCB_CURRENT_TIME,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                              nullptr));
  ASSERT_TRUE(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);
  EXPECT_TRUE(tap_->keyboardGrabbedElsewhere());
  xcb_ungrab_keyboard(other, XCB_CURRENT_TIME);
  session_.sync();
  EXPECT_FALSE(tap_->keyboardGrabbedElsewhere());

  // The session's own grab is no secure input.
  ASSERT_TRUE(type({"keydown", "super", "key", "Tab"}));
  ASSERT_TRUE(waitForEvents(2));
  ASSERT_TRUE(tap_->holdsKeyboard());
  EXPECT_FALSE(tap_->keyboardGrabbedElsewhere());
  ASSERT_TRUE(type({"keyup", "super"}));
  ASSERT_TRUE(waitForEvents(3));
}

}  // namespace
}  // namespace tolvane::test
