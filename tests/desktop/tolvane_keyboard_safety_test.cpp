// The real `tolvane` never keeps the user's keyboard: stalled on its main thread, stopped, or
// ended by a signal, with a switcher session running or the palette open, typing reaches the
// focused window and nothing switches late. Keys through XTEST; a terminal records what it is
// typed.
#include <signal.h>
#include <sys/wait.h>

#include "desktop/support/pipe_reader.h"
#include "desktop/support/tolvane_desktop.h"

namespace tolvane::test {
namespace {

// A recording terminal in front, another window behind it in the history: a stray switch
// would activate "other".
class TolvaneKeepsNoKeyboard : public TolvaneDesktopTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(TolvaneDesktopTest::SetUp());
    const auto otherClient = x.startXterm("other");
    const auto recorderClient = startTypingRecorder(x, typed, "recorder");
    ASSERT_TRUE(otherClient && recorderClient);
    other = otherClient->windows[0];
    typing = recorderClient->windows[0];
    launch();
    activate(other);
    activate(typing);
  }
  /// Blocks Tolvane's main thread for `seconds`, as a hung call would.
  void stall(int seconds) {
    ASSERT_EQ(tolvane->sendURL("tolvane://test-stall?seconds=" + std::to_string(seconds)), 0);
    ASSERT_TRUE(waitForLog("test hook: the main thread stalls")) << tolvane->log();
  }
  /// Stalls the main thread and types `keys`, which end in "a b c": the text must reach the
  /// focused window while the main thread is still blocked.
  void typeThroughAStall(const std::string& keys) {
    stall(5);
    ASSERT_TRUE(waitForLog("keyboard released")) << tolvane->log();
    type(keys);
    ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
    EXPECT_EQ(tolvane->count("test hook: the main thread runs again"), 0)
        << "the text must arrive while the main thread is still blocked";
  }
  bool waitForTyped(const std::string& text) {
    return x.waitUntil([&] { return typed.text().find(text) != std::string::npos; },
                       {typed.pump(), tolvane->pump()});
  }
  /// After the keys pressed meanwhile were dropped, a quick switch still follows the history.
  void expectNoLateSwitch() {
    EXPECT_EQ(x.activeWindow(), typing);
    EXPECT_EQ(tolvane->count("activate pid="), 0) << tolvane->log();
    type("keydown super key Tab keyup super");
    ASSERT_TRUE(waitForActive(other)) << tolvane->log();
    // The window manager may show the activation before Tolvane's log line is read.
    ASSERT_TRUE(waitForLog("activate pid=", 1)) << tolvane->log();
    EXPECT_EQ(tolvane->count("activate pid="), 1) << tolvane->log();
  }
  /// Stops Tolvane while one of its grabs holds the whole keyboard and types `whileStopped`:
  /// once its windows are gone, which only a closed connection does to a stopped client,
  /// typing reaches the terminal; continued, Tolvane ends with one line that says why.
  void stopAndTypeThrough(const std::string& whileStopped) {
    tolvane->signal(SIGSTOP);
    if (!whileStopped.empty()) type(whileStopped);
    ASSERT_TRUE(waitForPanel(false)) << tolvane->log();
    type("key a b c");
    ASSERT_TRUE(waitForTyped("abc")) << tolvane->log();
    const int status = waitForExit(SIGCONT);
    EXPECT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << tolvane->log();
    EXPECT_EQ(tolvane->count("tolvane: Tolvane was stopped while it held the keyboard"), 1)
        << tolvane->log();
    EXPECT_EQ(tolvane->count("the X display went away"), 0) << tolvane->log();
    EXPECT_EQ(x.activeWindow(), typing);
  }
  /// Holds Super-Tab until the HUD shows: the session holds the whole keyboard.
  void holdASession() {
    type("keydown super key Tab");
    ASSERT_TRUE(waitForPanel(true));
  }

  PipeReader typed;
  xcb_window_t other = XCB_WINDOW_NONE;
  xcb_window_t typing = XCB_WINDOW_NONE;
};

TEST_F(TolvaneKeepsNoKeyboard, AStallWhileIdleLetsTypingThroughAndSwitchesNothingLater) {
  ASSERT_NO_FATAL_FAILURE(typeThroughAStall("keydown super key Tab keyup super key a b c"));
  // Back, the tap hears that it was stalled.
  ASSERT_TRUE(waitForLog("event tap disabled by system (timeout)")) << tolvane->log();
  expectNoLateSwitch();
}

TEST_F(TolvaneKeepsNoKeyboard, AStallDuringASessionReleasesItsGrabAndCancelsIt) {
  ASSERT_NO_FATAL_FAILURE(holdASession());
  ASSERT_NO_FATAL_FAILURE(typeThroughAStall("keyup super key a b c"));
  ASSERT_TRUE(waitForLog("event tap disabled by system (timeout)")) << tolvane->log();
  EXPECT_TRUE(waitForPanel(false));
  expectNoLateSwitch();
}

TEST_F(TolvaneKeepsNoKeyboard, WhileStoppedTypingGoesThroughAndAfterwardsNothingSwitches) {
  tolvane->signal(SIGSTOP);
  type("keydown super key Tab keyup super key a b c");
  ASSERT_TRUE(waitForTyped("abc"));
  tolvane->signal(SIGCONT);
  ASSERT_TRUE(waitForLog("keys pressed meanwhile are dropped")) << tolvane->log();
  expectNoLateSwitch();
}

TEST_F(TolvaneKeepsNoKeyboard, StoppedDuringASessionItLetsGoOfTheDisplay) {
  ASSERT_NO_FATAL_FAILURE(holdASession());
  ASSERT_NO_FATAL_FAILURE(stopAndTypeThrough("keyup super"));
}

TEST_F(TolvaneKeepsNoKeyboard, SigtermWithTheMainThreadBlockedEndsByTheSignal) {
  ASSERT_NO_FATAL_FAILURE(holdASession());
  stall(30);
  const int status = waitForExit(SIGTERM);
  // Ended long before the stall would have: by the deadline, not by the normal quit.
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  EXPECT_EQ(tolvane->count("quit: the main thread did not get there within 2 s"), 1)
      << tolvane->log();
  type("keyup super");
  x.sync();
  EXPECT_TRUE(superTabIsFree());
}

// Alt-Space is the palette's once openbox's own binding of it is gone.
class TolvaneKeepsNoKeyboardWithThePalette : public TolvaneKeepsNoKeyboard {
 protected:
  void configureDisplay() override { freeAltSpace(); }
  /// Opens the palette and waits until its grab holds the keyboard.
  void openPalette() {
    type("key alt+space");
    ASSERT_TRUE(waitForPanel(true)) << tolvane->log();
    ASSERT_TRUE(pollUntil([&] { return keyboardTaken(); })) << tolvane->log();
  }
};

TEST_F(TolvaneKeepsNoKeyboardWithThePalette, StoppedWithThePaletteOpenItLetsGoOfTheDisplay) {
  ASSERT_NO_FATAL_FAILURE(openPalette());
  ASSERT_NO_FATAL_FAILURE(stopAndTypeThrough(""));
}

// A paused switcher holds no key of its own; the palette's grab is watched all the same.
class TolvanePausedKeepsNoKeyboard : public TolvaneKeepsNoKeyboardWithThePalette {
 protected:
  void configureDisplay() override {
    ASSERT_NO_FATAL_FAILURE(freeAltSpace());
    writePreferences(R"({"switcherPaused": true})");
  }
};

TEST_F(TolvanePausedKeepsNoKeyboard, AStallWithThePaletteOpenLetsTypingThrough) {
  ASSERT_TRUE(superTabIsFree()) << tolvane->log();
  ASSERT_NO_FATAL_FAILURE(openPalette());
  ASSERT_NO_FATAL_FAILURE(typeThroughAStall("key a b c"));
  // Back, the palette hears that its grab is gone and closes.
  EXPECT_TRUE(waitForPanel(false)) << tolvane->log();
}

}  // namespace
}  // namespace tolvane::test
