// The Wayland test client's windows on a compositor, for the suites whose compositor does not
// say which window has the focus: each client tells its own toplevels' activation on one shared
// pipe, and the focus is read from what they told. Such a compositor's session, on a bus of its
// own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktops/driver/compositor_suite.h"
#include "desktops/driver/session_bus.h"
#include "support/child_process.h"

namespace tolvane::test {

class ToplevelClients {
 public:
  /// `program` is tolvane-wayland-test-client.
  explicit ToplevelClients(std::string program) : program_(std::move(program)) {}

  /// Starts a client of `app` holding one toplevel `title` (with the client's `flags`), or
  /// `count` toplevels "title 1"… when `count` is above 1.
  void open(const Environment& environment, const std::string& app, const std::string& title,
            const std::vector<std::string>& flags = {}, int count = 1);
  /// The activated window as "app:title", as the clients tell it; empty when none is.
  const std::string& focused() const { return focused_; }
  /// Asks every running client for a round trip to the compositor; the result says when each
  /// has answered (every line about what the compositor did before is read) or ended.
  std::function<bool()> askSync();
  /// The activations and the clients' ends, for waits.
  std::vector<Source> sources();
  /// Ends every client.
  void clear() { clients_.clear(); }

 private:
  bool readActivations();

  std::string program_;
  PipeText activations_;
  std::vector<std::unique_ptr<ChildProcess>> clients_;
  std::size_t read_ = 0;
  /// The windows whose clients say they are activated, in the order they said so.
  std::vector<std::string> activated_;
  std::string focused_;
};

/// A compositor whose windows are the test client's, on a session bus of the test's own: what
/// KWin's and GNOME's sessions share.
class ToplevelSession : public CompositorSession {
 public:
  /// `testClient` opens the windows (tolvane-wayland-test-client), `keyTool` types, `desktop`
  /// is what XDG_CURRENT_DESKTOP says.
  ToplevelSession(std::string testClient, std::string keyTool, std::string desktop)
      : CompositorSession(std::move(keyTool)),
        clients_(std::move(testClient)),
        desktop_(std::move(desktop)) {}
  /// Ends the key tools, the clients and the compositor before the bus.
  ~ToplevelSession() override;

  /// The socket, the bus, a private runtime folder, no X.
  Environment clientEnvironment() const override;
  const std::string& focused() const override { return clients_.focused(); }
  bool openWindow(const std::string& app, const std::string& title,
                  const std::string& record = "") override;
  /// Opens one test client holding `count` toplevels ("app:app 1"…) and waits until one of them
  /// is activated.
  bool openWindows(const std::string& app, int count);
  /// Waits until the compositor has handled everything sent before, and each client has said
  /// what it heard of that.
  bool sync(const std::vector<Source>& also = {}) override;
  /// The compositor's end and output, the clients' activations and ends, the bus.
  std::vector<Source> sources() override;

 protected:
  /// A call the compositor answers once it has handled all it had to before.
  virtual bool ping() = 0;

  SessionBus bus_;

 private:
  ToplevelClients clients_;
  std::string desktop_;
};

}  // namespace tolvane::test
