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

#include "desktops/driver/step_driver.h"
#include "desktops/driver/tolvane_process.h"
#include "support/temp_dir.h"
#include "support/x11/x_session.h"

namespace tolvane::test {

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

/// The X11 session of the step driver: window names in braces stand for the window's number
/// ("log window={one} ok=true").
class TolvaneDesktop : public ::testing::Test, public DesktopSession {
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

  void launchTolvane(const std::string&) override { launch(); }
  /// Through XTEST, in xdotool's words: "keydown super key Tab keyup super".
  bool typeKeys(const std::string& keys) override;
  /// Activates the window as a pager would, and waits until Tolvane has seen it become active.
  void focusWindow(const std::string& window) override;
  bool waitFocused(const std::string& window) override { return waitForActive(at(window)); }
  bool staysFocused(const std::string& window) override;
  void closeWindow(const std::string& window) override;
  std::optional<Picture> takePicture(const std::string& name) override;
  bool waitForLog(const std::string& text, int times = 1) override;
  int logCount(const std::string& text) override { return tolvane->count(expand(text)); }
  std::string describe() override;
  bool waitForTyped(const std::string& text, std::chrono::milliseconds = {}) override;
  void signalTolvane(int signal) override { tolvane->signal(signal); }
  std::string runtimeFolder() override { return home.path() + "/XDG_RUNTIME_DIR"; }

  /// The text with every "{name}" replaced by that window's number.
  std::string expand(const std::string& text) const;
  /// Waits until `done` holds, reading Tolvane's log meanwhile.
  bool wait(const std::function<bool()>& done) { return x.waitUntil(done, {tolvane->pump()}); }
  bool waitForActive(xcb_window_t window);
  /// Names `window`, watching its focus changes: a grab for a panel takes the focus from the
  /// focused window, whichever it is.
  void name(const std::string& name, xcb_window_t window);
  /// Tolvane's panel on screen (HUD, palette or menu), if one is.
  std::optional<xcb_get_geometry_reply_t> panel();
  /// Checks `done` once per round trip to the server until it holds or the bound passes: for
  /// states no event announces (a grab taken or given up, pixels painted).
  bool pollUntil(const std::function<bool()>& done);
  /// Waits for Tolvane to end and reads the rest of its log.
  std::optional<int> waitForEnd() override;
  /// Asks Tolvane where its widget named `name` is shown: "X,Y", or nothing when it is not.
  std::optional<std::string> locateWidget(const std::string& name);
  /// Waits until Tolvane's tray icon is docked and shown on the screen; its window.
  xcb_window_t trayIcon();
  /// Opens the tray menu with `click` (xdotool's words) on the icon and waits until it holds
  /// the keyboard; the recent windows it lists, as Tolvane logged them.
  std::string openTrayMenu(const std::string& click);
  /// Runs `steps` in order (the X11 verbs are in tolvane_desktop.cpp) up to the first that
  /// fails.
  void run(const Steps& steps) { verbs_.run(steps); }

  XSession x;
  TempDir home;
  /// What the typing terminal was typed.
  PipeText typed{home.path() + "/typed"};
  /// Given to every Tolvane that launch() starts.
  Environment environment;
  std::unique_ptr<TolvaneProcess> tolvane;
  std::map<std::string, xcb_window_t> windows;

 private:
  void addActions();
  void addWaits();
  void addChecks();
  xcb_window_t at(const std::string& name) const;
  xcb_window_t dockedIcon(xcb_window_t below, bool topLevel);
  StepDriver verbs_{*this};
  /// The recent windows the last tray menu listed.
  std::string menu_;
  bool firstLaunch_ = false;
  int grabs_ = 0;
};

}  // namespace tolvane::test
