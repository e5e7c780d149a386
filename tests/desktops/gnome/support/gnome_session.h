// A private headless GNOME Shell for one desktop test, run as `nobody` with a session bus, a
// system bus, a home and settings of its own, in a mount namespace that hides the machine's
// systemd: extensions installed and enabled before it starts, the test client's windows waited
// on until activated, keys typed through Mutter's remote desktop, screenshots and scripts over
// the Shell's bus, and bounded waits on what the children say, never a sleep.
#pragma once

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

/// A JavaScript loop that runs `action` on each MetaWindow `w` that `window` ("app" or
/// "app:title") names.
std::string onEachWindow(const std::string& window, const std::string& action);

/// The build below `builds` of the extension `uuid` that the installed GNOME Shell loads:
/// `builds`/legacy/`uuid` up to GNOME 44, `builds`/module/`uuid` (an ES module) from 45 on. Empty
/// when gnome-shell does not tell its version.
std::string extensionBuild(const std::string& builds, const std::string& uuid);

class GnomeSession final : public CompositorSession {
 public:
  /// `testClient` opens the windows (tolvane-wayland-test-client), `remoteKeys` types
  /// (tolvane-gnome-remote-keys), `testExtensions` holds the builds of the harness's own
  /// extension (see extensionBuild).
  GnomeSession(std::string testClient, std::string remoteKeys, std::string testExtensions);
  /// Ends the typists and the clients, then the Shell, then the buses.
  ~GnomeSession() override;
  GnomeSession(const GnomeSession&) = delete;
  GnomeSession& operator=(const GnomeSession&) = delete;

  /// Installs and enables the extensions in `extensionFolders` (each folder named by its UUID)
  /// and the harness's own, starts the buses and the Shell on a 1280x800 virtual monitor, and
  /// waits until the Shell has started and left its overview. False (see error()) when a step
  /// failed.
  /// Those in `disabledFolders` are installed but left off, as a package installs them.
  bool start(const std::vector<std::string>& extensionFolders = {},
             const std::vector<std::string>& disabledFolders = {});
  const std::string& error() const { return error_; }
  /// What the Shell wrote on standard error (its log, the extensions' messages).
  const std::string& shellSaid() const { return shellErr_.text(); }
  /// What a client of this session needs: the socket, the bus, a private runtime folder, no X.
  Environment clientEnvironment() const override;

  /// Opens a test client's toplevel (with the client's `flags`) and waits until it is
  /// activated.
  bool openWindow(const std::string& app, const std::string& title,
                  const std::vector<std::string>& flags = {});
  /// Opens one test client holding `count` toplevels ("app 1"…) and waits until one of them is
  /// activated.
  bool openWindows(const std::string& app, int count);
  /// The activated window as "app:title", as the clients tell it; empty when none is.
  const std::string& focused() const override { return clients_.focused(); }
  /// Activates or closes the window from inside the Shell, as a pager would.
  bool focus(const std::string& window) override;
  bool close(const std::string& window) override;
  /// Runs `js` on each MetaWindow `w` that `window` names ("w.minimize();").
  bool runOnEach(const std::string& window, const std::string& js);
  /// Runs `js` in the Shell; false when it threw or the Shell did not answer. `result` gets the
  /// value as JSON text, or the error's text.
  bool eval(const std::string& js, std::string* result = nullptr);
  /// Every activation and deactivation the clients told, in the order they arrived.
  const std::string& activations() const { return clients_.activations(); }
  /// Waits until the focused window is `window` ("app" or "app:title").
  bool waitFocused(const std::string& window, const std::vector<Source>& also = {}) override;
  /// Waits until the Shell has handled everything sent before, and each client has said what
  /// it heard of that.
  bool sync(const std::vector<Source>& also = {}) override;
  /// Types the key tool's words (wtype's: "-M logo", "-k Tab", text) and waits for its end.
  bool type(const std::vector<std::string>& words, const std::vector<Source>& also = {}) override;
  /// Starts the key tool on `words` and goes on while it types: a key held through the next
  /// steps.
  void typeMeanwhile(const std::vector<std::string>& words);
  /// Takes a screenshot of the screen, keeping `name`.png in $TOLVANE_TEST_ARTIFACTS (else the
  /// working folder).
  std::optional<Picture> screenshot(const std::string& name) override;
  /// Ends the Shell now, as a crash would.
  void end();
  /// For waits of others: the Shell's end and output, the clients' activations and ends, the
  /// bus.
  std::vector<Source> sources() override;

 private:
  bool startBuses();
  bool installExtensions(const std::vector<std::string>& folders,
                         const std::vector<std::string>& disabled);
  bool startShell();
  bool holdKeyboard();
  bool run(const std::vector<std::string>& argv, const std::vector<Source>& also = {});
  bool waitWith(const std::function<bool()>& done, const std::vector<Source>& also = {});

  std::string remoteKeys_, testExtensions_;
  TempDir root_;
  std::string error_, home_, runtime_, clientRuntime_, wayland_, systemAddress_;
  PipeText systemOut_, shellErr_;
  std::unique_ptr<ChildProcess> systemBus_;
  /// The remote desktop session that keeps the seat's keyboard ends with this connection.
  SessionBus bus_;
  std::unique_ptr<ChildProcess> shell_;
  ToplevelClients clients_;
  std::vector<std::unique_ptr<ChildProcess>> typists_;
};

}  // namespace tolvane::test
