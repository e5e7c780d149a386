// The one fixture of the tests that drive the real `tolvane` on a private display with openbox:
// the desktop a scenario asks for (terminals, a tray host, a typing terminal), Tolvane launched
// on it, keys typed through XTEST, windows activated as a pager would, and bounded waits that
// end on an X event or a line of Tolvane's log, never on a sleep.
#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/support/pipe_reader.h"
#include "desktop/support/tolvane_process.h"
#include "desktop/support/x_session.h"
#include "support/temp_dir.h"

namespace tolvane::test {

/// Steps a driver runs in order: "verb[:n] argument", as in "count:0 activate pid="; window
/// names in braces stand for the window's number ("log window={one} ok=true").
using Steps = std::vector<std::string>;

/// The palette's hot key recorded as Control-Shift-K, as a user records it in the recorder.
extern const Steps kRecordCtrlShiftK;

/// What a scenario's display holds before Tolvane starts.
struct Desk {
  bool windowManager = true;
  /// Openbox leaves Alt-Space to Tolvane's palette.
  bool freeAltSpace = false;
  /// A tray host (trayer) runs.
  bool tray = false;
  /// The settings file as Tolvane finds it; launches mark the guide finished unless
  /// `firstLaunch`.
  std::string preferences;
  bool firstLaunch = false;
  /// Windows by name: an xterm titled so; "typing" is the terminal that records what it is
  /// typed.
  std::vector<std::string> windows;
};

class TolvaneDesktop : public ::testing::Test {
 protected:
  TolvaneDesktop();
  /// Converts the test's screenshots once the display and Tolvane are gone.
  ~TolvaneDesktop() override;
  /// Starts the display of `desk` and its windows; Tolvane does not run yet.
  void prepare(const Desk& desk);
  /// Starts Tolvane (on `home`, else on its own folder) and waits until it has warmed up.
  void launch(const TempDir* on = nullptr);
  void writePreferences(const std::string& json);
  std::string preferencesPath(const TempDir* on = nullptr) const;

  /// Types through XTEST as a user would: "keydown super key Tab keyup super"; "{name}" stands
  /// for that window's number.
  void type(const std::string& keys);
  /// The text with every "{name}" replaced by that window's number.
  std::string expand(const std::string& text) const;
  bool waitForLog(const std::string& text, int times = 1);
  /// Activates `window` as a pager would, and waits until Tolvane has seen it become active.
  void activate(xcb_window_t window);
  bool waitForActive(xcb_window_t window);
  /// Names `window`, watching its focus changes: a grab for a panel takes the focus from the
  /// focused window, whichever it is.
  void name(const std::string& name, xcb_window_t window);
  /// Tolvane's panel on screen (HUD, palette or menu), if one is.
  std::optional<xcb_get_geometry_reply_t> panel();
  bool waitForPanel(bool shown);
  /// Types `hotKey` until the palette is on screen and its grab has taken the keyboard.
  void openPalette(const std::string& hotKey);
  /// Whether another client holds the keyboard now; the probe lets go at once.
  bool keyboardTaken();
  /// Checks `done` once per round trip to the server until it holds or the bound passes: for
  /// states no event announces (a grab taken or given up, pixels painted).
  bool pollUntil(const std::function<bool()>& done);
  /// Sends `signal` (none when 0), waits for Tolvane to end and reads the rest of its log.
  int waitForExit(int signal = 0);
  /// The one window of Tolvane titled `title`, once it shows; none after a failure.
  xcb_window_t windowTitledWhenShown(const std::string& title);
  /// Clicks the centre of Tolvane's widget named `name`, as a user would.
  void clickWidget(const std::string& name);
  /// Whether Tolvane shows the widget named `name` now.
  bool showsWidget(const std::string& name);
  /// Waits until Tolvane's tray icon is docked and shown; where it is on the screen (and its
  /// window, in `window`).
  std::optional<xcb_get_geometry_reply_t> trayIcon(xcb_window_t* window = nullptr);
  /// Opens the tray menu with `click` (xdotool's words) on the icon and waits until it holds
  /// the keyboard; the recent windows it lists, as Tolvane logged them.
  std::string openTrayMenu(const std::string& click);
  bool waitForTyped(const std::string& text);
  /// Runs `steps` in order (the verbs are in tolvane_desktop.cpp) up to the first that fails.
  void run(const Steps& steps);

  XSession x;
  TempDir home;
  PipeReader typed;
  /// Given to every Tolvane that launch() starts.
  Environment environment;
  std::unique_ptr<TolvaneProcess> tolvane;
  std::map<std::string, xcb_window_t> windows;

 private:
  struct Step {
    std::string verb, arg;
    int n = 1;
  };
  void addActions();
  void addWaits();
  void addChecks();
  xcb_window_t at(const std::string& name) const;
  bool showsOnPanel(const std::uint8_t (&rgb)[3], bool asText);
  xcb_window_t dockedIcon(xcb_window_t below, bool topLevel);
  std::map<std::string, std::function<void(const Step&)>> verbs_;
  /// The recent windows the last tray menu listed.
  std::string menu_;
  bool firstLaunch_ = false;
  int grabs_ = 0;
};

}  // namespace tolvane::test
