// A private virtual KWin for one desktop test, run as `nobody` on a session bus of its own: the
// test client's windows waited on until activated (each says so on a pipe the session reads),
// keys typed through fake input, screenshots and scripts over the bus, and bounded waits on
// what the children say, never a sleep.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktops/driver/compositor_suite.h"
#include "desktops/driver/picture.h"
#include "desktops/driver/session_bus.h"
#include "desktops/driver/toplevel_clients.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace tolvane::test {

/// A script that runs `action` on each window `w` that `window` ("app" or "app:title") names,
/// in KWin 5 (clients) and KWin 6 (windows) alike.
std::string onEach(const std::string& window, const std::string& action);

class KwinSession final : public CompositorSession {
 public:
  /// A program KWin grants restricted interfaces to while its permission checks are on, as an
  /// installed desktop entry does: Wayland globals and D-Bus interfaces, each list ';'-separated.
  struct Trusted {
    std::string executable, waylandInterfaces, dbusInterfaces;
  };

  /// `testClient` opens the windows (tolvane-wayland-test-client), `fakeKeys` types.
  KwinSession(std::string testClient, std::string fakeKeys);
  /// Ends the clients, then KWin, then the bus.
  ~KwinSession() override;
  KwinSession(const KwinSession&) = delete;
  KwinSession& operator=(const KwinSession&) = delete;

  /// Starts the bus and KWin on a 1280x800 virtual output, and waits until its socket, its
  /// scripting and its screenshots answer. With `liftChecks` any client may bind what KWin
  /// restricts; without, only this session's tools and `trusted`. False (see error()) when a
  /// step failed.
  bool start(bool liftChecks, const std::vector<Trusted>& trusted = {});
  const std::string& error() const { return error_; }
  /// What a client of this session needs: the socket, the bus, a private runtime folder, no X.
  Environment clientEnvironment() const override;

  /// Opens a test client's toplevel (with the client's `flags`) and waits until it is
  /// activated.
  bool openWindow(const std::string& app, const std::string& title,
                  const std::vector<std::string>& flags = {});
  /// Opens one test client holding `count` toplevels ("app:app 1"…) and waits until one of them
  /// is activated.
  bool openWindows(const std::string& app, int count);
  /// The activated window as "app:title", as the clients tell it; empty when none is.
  const std::string& focused() const override { return clients_.focused(); }
  /// Activates or closes the window through a script, as a pager would.
  bool focus(const std::string& window) override;
  bool close(const std::string& window) override;
  /// Runs the script `action` on each window `w` that `window` names.
  bool runOnEach(const std::string& window, const std::string& action);
  /// Every activation and deactivation the clients told, in the order they arrived.
  const std::string& activations() const { return clients_.activations(); }
  /// Waits until the focused window is `window` ("app" or "app:title").
  bool waitFocused(const std::string& window, const std::vector<Source>& also = {}) override;
  /// Waits until KWin has handled everything sent before, and each client has said what it
  /// heard of that.
  bool sync(const std::vector<Source>& also = {}) override;
  /// Types the key tool's words (as wtype's: "-M logo", "-k Tab", text) and waits for its end.
  bool type(const std::vector<std::string>& words, const std::vector<Source>& also = {}) override;
  /// Starts the key tool on `words` and goes on while it types: a key held through the next
  /// steps.
  void typeMeanwhile(const std::vector<std::string>& words);
  /// Whether KWin runs a script of that name; nothing when it did not answer.
  std::optional<bool> scriptLoaded(const std::string& name);
  /// Takes a screenshot of the workspace, keeping `name`.png in $TOLVANE_TEST_ARTIFACTS (else
  /// the working folder).
  std::optional<Picture> screenshot(const std::string& name) override;
  /// Runs `js` as a KWin script and unloads it once it has run (unless `keep`, as a user's
  /// installed script stays): for setting a scene up, not for reading the focus.
  bool runScript(const std::string& js, bool keep = false);
  /// Ends KWin now, as a crash or a logout would.
  void end();
  /// For waits of others: KWin's end and output, the clients' activations and ends, the bus.
  std::vector<Source> sources() override;

 private:
  bool startBus();
  bool startKwin(bool liftChecks, const std::vector<Trusted>& trusted);
  void writeEntries(const std::vector<Trusted>& trusted);
  bool run(const std::vector<std::string>& argv, const std::vector<Source>& also = {});
  bool waitWith(const std::function<bool()>& done, const std::vector<Source>& also = {});

  std::string fakeKeys_;
  TempDir home_;
  std::string error_, wayland_, runtime_;
  PipeText kwinErr_;
  SessionBus bus_;
  std::unique_ptr<ChildProcess> kwin_;
  ToplevelClients clients_;
  std::vector<std::unique_ptr<ChildProcess>> typists_;
  int scripts_ = 0;
};

}  // namespace tolvane::test
