// The X11 event tap and global hot keys against a private X server, with keys typed through
// XTEST (xdotool).
#include "backends/x11/x11_event_tap.h"
#include "backends/x11/x11_hot_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "backends/sim/sim_clock.h"
#include "model/key_codes.h"
#include "model/key_combo.h"
#include "support/x11/desktop_tools.h"
#include "support/x11/x_session.h"

namespace tolvane::test {
namespace {

using x11::Reply;
using x11::TriggerSettings;
using x11::X11EventTap;

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
       {std::pair{eventflags::kCommand, "Command"}, std::pair{eventflags::kOption, "Option"},
        std::pair{eventflags::kControl, "Control"}, std::pair{eventflags::kShift, "Shift"}}) {
    if (event.flags & flag) flags += (flags.empty() ? "" : "|") + std::string(name);
  }
  return std::string(kTypes[static_cast<int>(event.type)]) + " " + std::to_string(event.keyCode) +
         " " + (flags.empty() ? "-" : flags);
}

/// A display without a window manager, and a connection of the code under test's own.
class X11KeysTest : public ::testing::Test {
 protected:
  void openDisplay() {
    ASSERT_TRUE(session_.start(false)) << session_.error();
    connection_ = x11::Connection::open(session_.display().c_str());
    ASSERT_TRUE(connection_);
  }

  /// Waits until `done` holds, reading the connection meanwhile.
  bool waitUntil(const std::function<bool()>& done) {
    return session_.waitUntil(done, {{xcb_get_file_descriptor(connection_->xcb()),
                                      [this] { return connection_->dispatchPending(); }}});
  }

  /// Makes sure the server has handled every request the connection sent.
  void syncConnection() {
    Reply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(
        connection_->xcb(), xcb_get_input_focus(connection_->xcb()), nullptr));
  }

  XSession session_;
  std::unique_ptr<x11::Connection> connection_;
};

class X11EventTapTest : public X11KeysTest {
 protected:
  void start() {
    ASSERT_NO_FATAL_FAILURE(openDisplay());
    tap_ = std::make_unique<X11EventTap>(
        *connection_, clock_, [this] { return x11::triggerCombinations(settings_); },
        [this](std::string_view line) { log_.emplace_back(line); });
  }

  bool create() {
    return tap_->create([this](const KeyEvent& event) {
      events_.push_back(describe(event));
      return verdict_;
    });
  }

  bool type(std::vector<std::string> args) { return xdotool(session_, std::move(args)); }

  /// Waits until the callback has seen `count` events.
  bool waitForEvents(std::size_t count) {
    return waitUntil([&] { return events_.size() >= count; });
  }

  /// Types `args` and answers what the callback saw once it had seen `count` events.
  std::vector<std::string> typeAndRead(std::vector<std::string> args, std::size_t count) {
    events_.clear();
    EXPECT_TRUE(type(std::move(args)) && waitForEvents(count)) << "events: " << events_.size();
    return events_;
  }

  void otherClientUngrabsKey(xcb_keycode_t keycode, std::uint16_t modifiers) {
    xcb_ungrab_key(session_.xcb(), keycode, session_.root(), modifiers);
    session_.sync();
  }

  /// Maps a window of the session's own client, gives it the input focus and counts the keys
  /// pressed in it; false when it does not have the focus.
  bool showWitness() {
    xcb_connection_t* c = session_.xcb();
    const xcb_window_t window = session_.createWindow(200, 100);
    const std::uint32_t mask = XCB_EVENT_MASK_KEY_PRESS;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    // Without a window manager the map takes effect at once, and requests of one client are
    // handled in order: the window is viewable when the focus request comes.
    xcb_map_window(c, window);
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    session_.observeEvents([this](const xcb_generic_event_t& event) {
      if (x11::eventType(event) == XCB_KEY_PRESS) {
        ++witnessed_[reinterpret_cast<const xcb_key_press_event_t&>(event).detail];
      }
    });
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return focus && focus->focus == window;
  }

  /// The lock modifiers (NumLock, CapsLock) now on.
  std::uint16_t lockState() {
    Reply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(
        session_.xcb(), xcb_query_pointer(session_.xcb(), session_.root()), nullptr));
    return reply ? reply->mask & (kNumLockMask | XCB_MOD_MASK_LOCK) : 0xffff;
  }

  sim::SimClock clock_;
  TriggerSettings settings_{.interceptTab = true, .interceptKeyAboveTab = true};
  TapVerdict verdict_ = TapVerdict::consume;
  std::vector<std::string> events_;
  std::vector<std::string> log_;
  std::unique_ptr<X11EventTap> tap_;
  /// Presses of each keycode in the witness window.
  std::map<xcb_keycode_t, int> witnessed_;
};

const std::vector<std::string> kSuperTab = {"keyDown 48 Command", "flagsChanged 55 -"};

TEST_F(X11EventTapTest, TriggersReachTheCallbackInProductCodes) {
  struct Row {
    bool option;
    const char* keys;
    std::vector<std::string> expected;
    /// Lock modifiers switched on while the trigger is typed.
    std::uint16_t locks = 0;
  };
  // The whole combination is typed before the tap reads its first event, so the trigger
  // modifier is already up when the session starts: its release comes from the key state.
  const Row rows[] = {
      {false, "super+Tab", kSuperTab},
      {false, "super+shift+Tab", {"keyDown 48 Command|Shift", "flagsChanged 55 -"}},
      {false, "super+grave", {"keyDown 50 Command", "flagsChanged 55 -"}},
      {false, "Super_R+Tab", kSuperTab},
      {true, "alt+Tab", {"keyDown 48 Option", "flagsChanged 58 -"}},
      {true, "alt+shift+grave", {"keyDown 50 Option|Shift", "flagsChanged 58 -"}},
      // Lock keys change the state a grab must match; their bits are no product flags.
      {false, "super+Tab", kSuperTab, kNumLockMask},
      {false, "super+Tab", kSuperTab, XCB_MOD_MASK_LOCK},
      {false, "super+Tab", kSuperTab, kNumLockMask | XCB_MOD_MASK_LOCK},
  };
  ASSERT_NO_FATAL_FAILURE(start());
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.keys) + " locks " + std::to_string(row.locks));
    std::vector<std::string> toggleLocks{"key"};
    if (row.locks & kNumLockMask) toggleLocks.push_back("Num_Lock");
    if (row.locks & XCB_MOD_MASK_LOCK) toggleLocks.push_back("Caps_Lock");
    ASSERT_TRUE(!row.locks || type(toggleLocks));
    ASSERT_EQ(lockState(), row.locks);
    settings_.triggerIsOption = row.option;
    ASSERT_TRUE(create());
    EXPECT_EQ(typeAndRead({"key", row.keys}, row.expected.size()), row.expected);
    syncConnection();
    EXPECT_FALSE(tap_->holdsKeyboard());
    EXPECT_EQ(grabKeyboardStatus(session_), XCB_GRAB_STATUS_SUCCESS);
    tap_->destroy();
    ASSERT_TRUE(!row.locks || type(toggleLocks));
  }
}

TEST_F(X11EventTapTest, AConsumedTriggerHoldsTheKeyboardUntilTheModifierIsReleased) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(create());
  // Another client holding the keyboard is what secure input looks like; the probe that tells
  // keeps nothing itself.
  EXPECT_FALSE(tap_->keyboardGrabbedElsewhere());
  syncConnection();
  ASSERT_EQ(grabKeyboardStatus(session_, true), XCB_GRAB_STATUS_SUCCESS);
  EXPECT_TRUE(tap_->keyboardGrabbedElsewhere());
  xcb_ungrab_keyboard(session_.xcb(), XCB_CURRENT_TIME);
  session_.sync();

  ASSERT_TRUE(type({"keydown", "super", "key", "Tab"}));
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_TRUE(tap_->holdsKeyboard());
  EXPECT_EQ(grabKeyboardStatus(session_), XCB_GRAB_STATUS_ALREADY_GRABBED);
  EXPECT_FALSE(tap_->keyboardGrabbedElsewhere()) << "the session's own grab is no secure input";
  EXPECT_TRUE(tap_->isKeyDown(keycode::kLeftCommand));
  EXPECT_FALSE(tap_->isKeyDown(keycode::kRightCommand));
  // Keys no combination names reach the callback too, while Super stays down.
  // xdotool releases Shift before Tab.
  ASSERT_TRUE(type({"key", "Tab", "Down", "shift+Tab", "keyup", "super"}));
  ASSERT_TRUE(waitForEvents(11));
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
  EXPECT_FALSE(tap_->isKeyDown(keycode::kLeftCommand));
  syncConnection();
  EXPECT_FALSE(tap_->holdsKeyboard());
  EXPECT_EQ(grabKeyboardStatus(session_), XCB_GRAB_STATUS_SUCCESS);
  // Window managers honour activations stamped with the time of the input behind them.
  EXPECT_NE(connection_->userTime(), XCB_CURRENT_TIME);
}

TEST_F(X11EventTapTest, PublishesAWindowOfItsConnectionWhileAGrabOfItsOwnHoldsTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(start());
  // Each change of what is published, once. When a session's hold is withdrawn the keyboard is
  // free already: a stop between the two can never leave it held.
  std::vector<std::uint32_t> published;
  std::optional<std::uint8_t> statusWhenWithdrawn;
  bool sessionEnding = false;
  tap_->setHoldPublisher([&](std::uint32_t window) {
    if (sessionEnding && window == 0) {
      syncConnection();  // everything the tap sent before this moment has been handled
      statusWhenWithdrawn = grabKeyboardStatus(session_);
    }
    if (published.empty() || published.back() != window) published.push_back(window);
  });
  ASSERT_TRUE(create());  // the trigger grabs end with their keys: nothing to publish
  tap_->keyboardGrabbedElsewhere();
  ASSERT_TRUE(type({"keydown", "super", "key", "Tab"}));
  ASSERT_TRUE(waitForEvents(2));
  ASSERT_TRUE(tap_->holdsKeyboard());
  ASSERT_EQ(published.size(), 4u);
  const std::uint32_t window = published[1];
  EXPECT_NE(window, 0u);
  sessionEnding = true;
  tap_->sessionEnded();
  sessionEnding = false;
  EXPECT_EQ(statusWhenWithdrawn, XCB_GRAB_STATUS_SUCCESS);
  ASSERT_TRUE(type({"keyup", "super"}));
  tap_->setWindowGrabHeld(true);
  std::thread([&] { tap_->releaseFromAnyThread(); }).join();
  EXPECT_EQ(published, (std::vector<std::uint32_t>{0, window, 0, window, 0, window, 0}));
  tap_->setHoldPublisher({});  // `published` goes before the tap
  // Closing the client that owns the window closes the tap's own connection.
  xcb_kill_client(session_.xcb(), window);
  session_.sync();
  syncConnection();
  EXPECT_TRUE(connection_->hasFailed());
}

// The sentinel is told of a hold for as long as any window of ours holds, whichever closes first.
TEST_F(X11EventTapTest, ThePalettesAndTheTrayMenusHoldsNeverClearEachOther) {
  using Grab = x11::X11EventTap::WindowGrab;
  ASSERT_NO_FATAL_FAILURE(start());
  std::vector<bool> published;
  tap_->setHoldPublisher([&](std::uint32_t window) { published.push_back(window != 0); });
  tap_->setWindowGrabHeld(true, Grab::trayMenu);
  tap_->setWindowGrabHeld(true, Grab::palette);
  tap_->setWindowGrabHeld(false, Grab::palette);
  tap_->setWindowGrabHeld(false, Grab::trayMenu);
  tap_->setWindowGrabHeld(true, Grab::palette);
  tap_->setWindowGrabHeld(false, Grab::trayMenu);
  EXPECT_EQ(published, (std::vector<bool>{false, true, true, true, false, true, true}));
  tap_->setHoldPublisher({});
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
  syncConnection();
  connection_->dispatchPending();
  EXPECT_EQ(typeAndRead({"key", "super+Tab"}, 2), kSuperTab);
  EXPECT_TRUE(tap_->isEnabled());
}

TEST_F(X11EventTapTest, WithoutASessionTheNextKeysReachTheFocusedWindow) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(showWitness());
  const auto reached = [&](xcb_keycode_t keycode, int presses) {
    return waitUntil([&] { return witnessed_[keycode] == presses; });
  };
  // A passed trigger: the grab its press activated ended with the Tab key.
  verdict_ = TapVerdict::pass;
  ASSERT_TRUE(create());
  ASSERT_TRUE(type({"keydown", "super", "key", "Tab", "key", "x"}));
  ASSERT_TRUE(reached(53, 1));  // x
  EXPECT_EQ(events_, std::vector<std::string>{"keyDown 48 Command"});
  EXPECT_FALSE(tap_->holdsKeyboard());

  // A session the switcher ended (Escape, Return, a digit, a click), or the tap disabled during
  // one, while Super is still held.
  verdict_ = TapVerdict::consume;
  for (const bool disable : {false, true}) {
    SCOPED_TRACE(disable ? "disabled" : "session ended");
    events_.clear();
    ASSERT_TRUE(type({"key", "Tab"}));
    ASSERT_TRUE(waitForEvents(1));
    ASSERT_TRUE(tap_->holdsKeyboard());
    disable ? tap_->setEnabled(false) : tap_->sessionEnded();
    EXPECT_FALSE(tap_->holdsKeyboard());
    ASSERT_TRUE(type({"key", "y"}));
    ASSERT_TRUE(reached(29, disable ? 2 : 1));  // y
  }

  // Disabled with a trigger press still unread: the press starts nothing.
  ASSERT_TRUE(type({"keyup", "super"}));
  tap_->setEnabled(true);
  events_.clear();
  ASSERT_TRUE(type({"key", "super+Tab"}));
  tap_->setEnabled(false);
  syncConnection();  // the press was reported before this reply
  connection_->dispatchPending();
  syncConnection();
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(grabKeyboardStatus(session_), XCB_GRAB_STATUS_SUCCESS);
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
    syncConnection();
    if (byWatchdog) {
      bool released = false;
      std::thread([&] { released = tap_->releaseFromAnyThread(); }).join();
      ASSERT_TRUE(released);
      // Nothing holds the keyboard any more, the main thread not having run at all.
      EXPECT_EQ(grabKeyboardStatus(session_), XCB_GRAB_STATUS_SUCCESS);
      EXPECT_EQ(grabKeyError(session_, kTabKeycode, kSuperMask), 0);
      otherClientUngrabsKey(kTabKeycode, kSuperMask);
    } else {
      stopped = true;
    }
    // Back on the main thread: the callback hears of it first, and the queued keys are gone.
    connection_->dispatchPending();
    syncConnection();  // the fence's notice, which ends the dropping
    connection_->dispatchPending();
    EXPECT_EQ(events_, std::vector<std::string>{"disabledByTimeout 0 -"});
    EXPECT_FALSE(tap_->isEnabled());
    ASSERT_TRUE(type({"keyup", "super"}));
    // Enabled again, as the engine does, the tap takes fresh keys.
    tap_->setEnabled(true);
    ASSERT_TRUE(tap_->isEnabled());
    EXPECT_EQ(typeAndRead({"key", "super+Tab"}, 2), kSuperTab);
    tap_->destroy();
  }
  EXPECT_EQ(log_, std::vector<std::string>{
                      "x11 tap: Tolvane was stopped; keys pressed meanwhile are dropped"});
}

TEST_F(X11EventTapTest, HoldsTheCombinationsOnlyWhileEnabledAndNeverOneOwnedElsewhere) {
  ASSERT_NO_FATAL_FAILURE(start());
  // Another client owns Super+Shift+Tab: creation fails, names it, and gives Super+Tab back.
  ASSERT_EQ(grabKeyError(session_, kTabKeycode, kSuperMask | XCB_MOD_MASK_SHIFT), 0);
  EXPECT_FALSE(create());
  EXPECT_FALSE(tap_->isEnabled());
  EXPECT_EQ(tap_->failureReason(), "Super+Shift+Tab is grabbed by another program");
  syncConnection();
  EXPECT_EQ(grabKeyError(session_, kTabKeycode, kSuperMask), 0);
  otherClientUngrabsKey(kTabKeycode, kSuperMask | XCB_MOD_MASK_SHIFT);
  otherClientUngrabsKey(kTabKeycode, kSuperMask);

  // Created, the tap holds Super+Tab; disabled, it gives it back; re-enabled while another
  // client holds it, it stays disabled.
  ASSERT_TRUE(create());
  EXPECT_EQ(grabKeyError(session_, kTabKeycode, kSuperMask), XCB_ACCESS);
  tap_->setEnabled(false);
  syncConnection();
  EXPECT_FALSE(tap_->isEnabled());
  ASSERT_EQ(grabKeyError(session_, kTabKeycode, kSuperMask), 0);
  tap_->setEnabled(true);
  EXPECT_FALSE(tap_->isEnabled());
  EXPECT_EQ(tap_->failureReason(), "Super+Tab is grabbed by another program");
  otherClientUngrabsKey(kTabKeycode, kSuperMask);
  tap_->setEnabled(true);
  EXPECT_TRUE(tap_->isEnabled());
  EXPECT_FALSE(tap_->failureReason());

  // A setting no longer wants the key above Tab.
  settings_.interceptKeyAboveTab = false;
  tap_->reloadCombinations();
  syncConnection();
  EXPECT_EQ(grabKeyError(session_, kKeyAboveTabKeycode, kSuperMask), 0);
  EXPECT_TRUE(tap_->isEnabled());

  tap_->destroy();
  syncConnection();
  EXPECT_EQ(grabKeyError(session_, kTabKeycode, kSuperMask), 0);
  EXPECT_EQ(grabKeyError(session_, kTabKeycode, kSuperMask | XCB_MOD_MASK_SHIFT), 0);
}

// Global hot keys: each press fires once, and a combination another client owns is refused
// without leaving a grab behind.
class X11HotKeysTest : public X11KeysTest {
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
    ASSERT_NO_FATAL_FAILURE(openDisplay());
    connection_->addSink(&counter_);
    hotKeys_ = std::make_unique<x11::X11HotKeys>(*connection_);
  }
  void TearDown() override {
    if (connection_) connection_->removeSink(&counter_);
  }

  PressCounter counter_;
  std::unique_ptr<x11::X11HotKeys> hotKeys_;
};

constexpr std::uint32_t kP = 35;
constexpr std::uint32_t kO = 31;

TEST_F(X11HotKeysTest, FiresOncePerPressHeldOrNotUntilUnregisteredAndRefusesOneOwnedElsewhere) {
  ASSERT_NO_FATAL_FAILURE(start());
  int p = 0;
  int o = 0;
  const auto superShiftP =
      hotKeys_->registerHotKey(kP, hotkeymask::kCommand | hotkeymask::kShift, [&] { ++p; });
  const auto controlAltO =
      hotKeys_->registerHotKey(kO, hotkeymask::kControl | hotkeymask::kOption, [&] { ++o; });
  ASSERT_TRUE(superShiftP && controlAltO);
  EXPECT_NE(*superShiftP, *controlAltO);
  // This client's own registration counts as owned too.
  EXPECT_FALSE(hotKeys_->registerHotKey(kO, hotkeymask::kControl | hotkeymask::kOption, [] {}));

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

  // Another client owns one lock variant of Super+P: refused, and the variants grabbed before
  // the refusal were given back.
  ASSERT_EQ(grabKeyError(session_, 33, XCB_MOD_MASK_4 | XCB_MOD_MASK_LOCK), 0);
  EXPECT_FALSE(hotKeys_->registerHotKey(kP, hotkeymask::kCommand, [] {}));
  syncConnection();
  EXPECT_EQ(grabKeyError(session_, 33, XCB_MOD_MASK_4), 0);
  EXPECT_EQ(grabKeyError(session_, 33, XCB_MOD_MASK_4 | XCB_MOD_MASK_2), 0);
}

}  // namespace
}  // namespace tolvane::test
