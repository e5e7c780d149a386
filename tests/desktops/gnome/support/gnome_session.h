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

#include "desktops/driver/toplevel_clients.h"

namespace tolvane::test {

/// A JavaScript loop that runs `action` on each MetaWindow `w` that `window` ("app" or
/// "app:title") names.
std::string onEachWindow(const std::string& window, const std::string& action);

/// The build below `builds` of the extension `uuid` that the installed GNOME Shell loads:
/// `builds`/legacy/`uuid` up to GNOME 44, `builds`/module/`uuid` (an ES module) from 45 on. Empty
/// when gnome-shell does not tell its version.
std::string extensionBuild(const std::string& builds, const std::string& uuid);

class GnomeSession final : public ToplevelSession {
 public:
  /// `testClient` opens the windows (tolvane-wayland-test-client), `remoteKeys` types
  /// (tolvane-gnome-remote-keys), `testExtensions` holds the builds of the harness's own
  /// extension (see extensionBuild).
  GnomeSession(std::string testClient, std::string remoteKeys, std::string testExtensions)
      : ToplevelSession(std::move(testClient), std::move(remoteKeys), "GNOME"),
        testExtensions_(std::move(testExtensions)) {}

  /// Installs and enables the extensions in `extensionFolders` (each folder named by its UUID)
  /// and the harness's own, starts the buses and the Shell on a 1280x800 virtual monitor, and
  /// waits until the Shell has started and left its overview. False (see error()) when a step
  /// failed.
  /// Those in `disabledFolders` are installed but left off, as a package installs them.
  bool start(const std::vector<std::string>& extensionFolders = {},
             const std::vector<std::string>& disabledFolders = {});

  /// Activates or closes the window from inside the Shell, as a pager would.
  bool focus(const std::string& window) override;
  bool close(const std::string& window) override;
  /// Runs `js` on each MetaWindow `w` that `window` names ("w.minimize();").
  bool runOnEach(const std::string& window, const std::string& js);
  /// Runs `js` in the Shell; false when it threw or the Shell did not answer. `result` gets the
  /// value as JSON text, or the error's text.
  bool eval(const std::string& js, std::string* result = nullptr);
  /// A screenshot of the screen.
  std::optional<Picture> screenshot(const std::string& name) override;

 private:
  bool ping() override { return eval("true"); }
  bool startBuses();
  bool installExtensions(const std::vector<std::string>& folders,
                         const std::vector<std::string>& disabled);
  bool startShell();
  bool holdKeyboard();

  std::string testExtensions_, shellHome_, shellRuntime_, systemAddress_;
  PipeText systemOut_;
  std::unique_ptr<ChildProcess> systemBus_;
};

}  // namespace tolvane::test
