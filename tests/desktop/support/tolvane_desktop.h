// The base fixture of the tests that drive the real `tolvane` on a private display with openbox:
// launching it, typing through XTEST, activating windows as a pager would, and bounded waits
// that end on an X event or a line of Tolvane's log, never on a sleep.
#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "desktop/support/tolvane_process.h"
#include "desktop/support/x_session.h"
#include "support/temp_dir.h"

namespace tolvane::test {

class TolvaneDesktopTest : public ::testing::Test {
 protected:
  /// Starts the display after configureDisplay() and watches its root.
  void SetUp() override;
  /// Before the display starts: openbox's configuration, Tolvane's settings file.
  virtual void configureDisplay() {}
  /// For configureDisplay(): openbox leaves Alt-Space to Tolvane's palette.
  void freeAltSpace();
  /// For configureDisplay(): the settings file Tolvane reads when it starts.
  void writePreferences(const std::string& json);

  /// Starts Tolvane and waits until it has warmed up and taken its keys. Unless `firstLaunch`,
  /// the settings say the guide was finished, so that its window stays out of the way.
  void launch();
  void markGuideFinished();
  /// Types through XTEST as a user would: "keydown super key Tab keyup super".
  void type(const std::string& keys);
  bool waitForLog(const std::string& text, int times = 1);
  /// Activates `window` as a pager would, and waits until Tolvane has seen it become active: a
  /// focus shorter than Tolvane's handling of it would never reach its history.
  void activate(xcb_window_t window);
  bool waitForActive(xcb_window_t window);
  /// Tolvane's panel on screen (HUD, palette or menu), if one is.
  std::optional<xcb_get_geometry_reply_t> panel();
  bool waitForPanel(bool shown);
  /// Whether another client holds the keyboard now; the probe lets go at once.
  bool keyboardTaken();
  /// Whether another client could take Super-Tab now: Tolvane holds no grab of it.
  bool superTabIsFree();
  /// Checks `done` once per round trip to the server until it holds or the bound passes: for
  /// states no event announces (a grab taken or given up, pixels painted).
  bool pollUntil(const std::function<bool()>& done);
  /// Sends `signal` (none when 0), waits for Tolvane to end and reads the rest of its log; its
  /// wait status.
  int waitForExit(int signal = 0);

  bool withWindowManager = true;
  /// launch() leaves the settings as they are: the guide appears when they never saw it.
  bool firstLaunch = false;
  /// Given to every Tolvane that launch() starts.
  Environment environment;
  XSession x;
  TempDir home;
  std::unique_ptr<TolvaneProcess> tolvane;
};

}  // namespace tolvane::test
