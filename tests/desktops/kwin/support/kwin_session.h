// A private virtual KWin for one desktop test, run as `nobody` on a session bus of its own: the
// test client's windows waited on until activated (each says so on a pipe the session reads),
// keys typed through fake input, screenshots and scripts over the bus, and bounded waits on
// what the children say, never a sleep.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "desktops/driver/toplevel_clients.h"

namespace tolvane::test {

/// A script that runs `action` on each window `w` that `window` ("app" or "app:title") names,
/// in KWin 5 (clients) and KWin 6 (windows) alike.
std::string onEach(const std::string& window, const std::string& action);

class KwinSession final : public ToplevelSession {
 public:
  /// A program KWin grants restricted interfaces to while its permission checks are on, as an
  /// installed desktop entry does: Wayland globals and D-Bus interfaces, each list ';'-separated.
  struct Trusted {
    std::string executable, waylandInterfaces, dbusInterfaces;
  };

  /// `testClient` opens the windows (tolvane-wayland-test-client), `fakeKeys` types.
  KwinSession(std::string testClient, std::string fakeKeys)
      : ToplevelSession(std::move(testClient), fakeKeys, "KDE"), fakeKeys_(std::move(fakeKeys)) {}

  /// Starts the bus and KWin on a 1280x800 virtual output, and waits until its socket, its
  /// scripting and its screenshots answer. With `liftChecks` any client may bind what KWin
  /// restricts; without, only this session's tools and `trusted`. False (see error()) when a
  /// step failed.
  bool start(bool liftChecks, const std::vector<Trusted>& trusted = {});

  /// Activates or closes the window through a script, as a pager would.
  bool focus(const std::string& window) override;
  bool close(const std::string& window) override;
  /// Runs the script `action` on each window `w` that `window` names.
  bool runOnEach(const std::string& window, const std::string& action);
  /// Whether KWin runs a script of that name; nothing when it did not answer.
  std::optional<bool> scriptLoaded(const std::string& name);
  /// A screenshot of the workspace.
  std::optional<Picture> screenshot(const std::string& name) override;
  /// Runs `js` as a KWin script and unloads it once it has run (unless `keep`, as a user's
  /// installed script stays): for setting a scene up, not for reading the focus.
  bool runScript(const std::string& js, bool keep = false);

 private:
  bool ping() override { return scriptLoaded("none").has_value(); }
  void writeEntries(const std::vector<Trusted>& trusted);

  std::string fakeKeys_;
  int scripts_ = 0;
};

}  // namespace tolvane::test
