// The fixture of the tests that sign the real `tolvane` in to an account service: the test plays
// the browser (an xdg-open on PATH that notes the page it was asked to open, and the callback
// handed over as a second start would), a second machine on another configuration folder, the
// palette combination recorded as a user records it, and what the keyring holds.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "desktop/support/tolvane_desktop.h"
#include "support/temp_dir.h"

namespace tolvane::test {

/// What the keyring holds for `account` under Tolvane's schema, read as a new store reads it.
std::optional<std::string> keyringValue(const std::string& account);
/// The whole file at `path`; empty when it cannot be read.
std::string readFile(const std::string& path);

class CloudDesktopTest : public TolvaneDesktopTest {
 protected:
  /// The browser's part of a sign-in: from the page Tolvane opened to the "tolvane://auth?…"
  /// callback the service redirects to; nothing (after reporting why) when there is none.
  using Browser = std::function<std::optional<std::string>(const std::string& page)>;

  void configureDisplay() override { freeAltSpace(); }
  /// Puts the browser on PATH, and points every Tolvane started from now on at `baseURL()`.
  void SetUp() override;
  /// The service's address: known once the derived fixture's service runs.
  virtual std::string baseURL() const = 0;

  /// Asks the running Tolvane to sign in, lets `browser` sign in on the page it opened and
  /// hands the callback back, until the account says it is signed in.
  void signIn(const Browser& browser);
  /// Opens the palette hot-key recorder of the running Tolvane, clicks it and types `keys`
  /// ("key ctrl+shift+k"); the new combination is stored and applied as the user's own.
  void recordPaletteCombination(const std::string& keys);
  /// Starts a second Tolvane, on another configuration folder, as another machine would.
  void launchMachineB();

  TempDir machineB;

 private:
  std::string opened() const { return home.path() + "/opened-urls"; }

  int pagesOpened_ = 0;
};

}  // namespace tolvane::test
