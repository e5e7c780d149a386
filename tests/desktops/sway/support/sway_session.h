// A private headless sway for one desktop test, run as `nobody` (sway refuses root): its
// sockets, swaymsg commands, foot windows waited on until mapped and focused, keys typed with
// wtype, screenshots taken with grim, and bounded waits on sway's event stream, never a sleep.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktops/driver/compositor_suite.h"
#include "desktops/driver/picture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace tolvane::test {

class SwaySession final : public CompositorSession {
 public:
  SwaySession() = default;
  /// Ends the clients, then sway with its process group.
  ~SwaySession() override;
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;

  /// Starts sway on a 1280x800 headless output and waits for its sockets, its event stream and
  /// the keyboard the session keeps. False (see error()) when a step failed.
  bool start();
  const std::string& error() const { return error_; }
  /// The absolute paths a client connects to.
  const std::string& waylandDisplay() const { return wayland_; }
  const std::string& swaySocket() const { return socket_; }
  /// What a client of this session needs: the two sockets, a private runtime folder, no X.
  Environment clientEnvironment() const override;

  /// Runs `swaymsg -r args...`; its output when it succeeded.
  std::optional<std::string> msg(const std::vector<std::string>& args);
  /// Opens `foot -a app -T title` (running `command` when given) and waits until sway maps and
  /// focuses it.
  bool openWindow(const std::string& app, const std::string& title,
                  const std::vector<std::string>& command = {});
  /// Starts the client `argv` and waits until sway maps and focuses its `window` ("app:title").
  bool openClient(const std::vector<std::string>& argv, const std::string& window);
  /// The focused window as "app:title", from the event stream; empty when none is.
  const std::string& focused() const override { return focused_; }
  /// Runs "CRITERIA focus" / "CRITERIA kill" for the window.
  bool focus(const std::string& window) override;
  bool close(const std::string& window) override;
  /// Waits until the focused window is `window` ("app" or "app:title").
  bool waitFocused(const std::string& window, const std::vector<Source>& also = {}) override;
  /// Waits until sway has sent every event of what it handled before this call.
  bool sync(const std::vector<Source>& also = {}) override;
  /// How many binding events so far ran a command containing `text`.
  int bindingsRun(const std::string& text) const;
  /// Types with one wtype process and waits for it to end.
  bool type(const std::vector<std::string>& args, const std::vector<Source>& also = {}) override;
  /// Starts a wtype process that types on while the test goes on (a held key, a pause).
  bool typeMeanwhile(const std::vector<std::string>& args);
  /// Ends the keyboard the session keeps and waits until sway has removed it: from then on each
  /// wtype brings a keyboard that goes when it ends, as a program's virtual keyboard does.
  bool dropKeptKeyboard(const std::vector<Source>& also = {});
  /// Takes a screenshot of every output, keeping `name`.png in $TOLVANE_TEST_ARTIFACTS (else
  /// the working folder).
  std::optional<Picture> screenshot(const std::string& name) override;
  /// Ends sway now, as a crash or a logout would.
  void end();
  /// For waits of others: sway's end and its event stream.
  std::vector<Source> sources() override;

 private:
  /// Runs a client of the session and waits for it to end; whether it ended with status 0.
  bool run(const std::vector<std::string>& argv, const std::vector<Source>& also = {},
           int out = -1);
  bool waitWith(const std::function<bool()>& done, const std::vector<Source>& also = {});
  bool startSway();
  bool startEvents();
  bool handleEvent(const std::string& line);
  bool drainEvents();

  TempDir home_;
  std::string error_, wayland_, socket_, runtime_, focused_;
  PipeText swayErr_;
  std::unique_ptr<ChildProcess> sway_, events_, keeper_;
  std::vector<std::unique_ptr<ChildProcess>> clients_;
  int eventsFd_ = -1;
  std::string pending_;
  std::vector<std::string> bindings_;
  int ticks_ = 0, syncs_ = 0, syncsSent_ = 0, keyboards_ = 0, keyboardsRemoved_ = 0;
  std::vector<std::string> mapped_;
};

}  // namespace tolvane::test
