// A private headless sway for one desktop test, run as `nobody` (sway refuses root): its
// sockets, swaymsg commands, foot windows waited on until mapped and focused, keys typed with
// wtype, screenshots taken with grim, and bounded waits on sway's event stream, never a sleep.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktops/driver/compositor_suite.h"

namespace tolvane::test {

class SwaySession final : public CompositorSession {
 public:
  SwaySession() : CompositorSession("wtype") {}
  /// Ends the clients, then sway with its process group.
  ~SwaySession() override;

  /// Starts sway on a 1280x800 headless output and waits for its sockets, its event stream and
  /// the keyboard the session keeps. False (see error()) when a step failed.
  bool start();
  /// What a client of this session needs: the two sockets, a private runtime folder, no X.
  Environment clientEnvironment() const override;

  /// Runs `swaymsg -r args...`; its output when it succeeded.
  std::optional<std::string> msg(const std::vector<std::string>& args);
  /// Opens `foot -a app -T title` running `cat`, or copying what it is typed into `record`.
  bool openWindow(const std::string& app, const std::string& title,
                  const std::string& record = "") override;
  /// Starts the client `argv` and waits until sway maps and focuses its `window` ("app:title").
  bool openClient(const std::vector<std::string>& argv, const std::string& window);
  /// The focused window as "app:title", from the event stream; empty when none is.
  const std::string& focused() const override { return focused_; }
  /// Runs "CRITERIA focus" / "CRITERIA kill" for the window.
  bool focus(const std::string& window) override;
  bool close(const std::string& window) override;
  /// Waits until sway has sent every event of what it handled before this call.
  bool sync(const std::vector<Source>& also = {}) override;
  /// How many binding events so far ran a command containing `text`.
  int bindingsRun(const std::string& text) const;
  /// Ends the keyboard the session keeps and waits until sway has removed it: from then on each
  /// wtype brings a keyboard that goes when it ends, as a program's virtual keyboard does.
  bool dropKeptKeyboard(const std::vector<Source>& also = {});
  /// A screenshot of every output, taken with grim.
  std::optional<Picture> screenshot(const std::string& name) override;
  /// Sway's end and output, and its event stream.
  std::vector<Source> sources() override;

 private:
  bool startSway();
  bool startEvents();
  bool handleEvent(const std::string& line);
  bool drainEvents();

  std::string socket_, focused_;
  std::unique_ptr<ChildProcess> events_, keeper_;
  std::vector<std::unique_ptr<ChildProcess>> clients_;
  int eventsFd_ = -1;
  std::string pending_;
  std::vector<std::string> bindings_;
  int ticks_ = 0, syncs_ = 0, syncsSent_ = 0, keyboards_ = 0, keyboardsRemoved_ = 0;
  std::vector<std::string> mapped_;
};

}  // namespace tolvane::test
