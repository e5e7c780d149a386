// A private session bus with an unlocked GNOME keyring on it, for tests of the keyring store.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/temp_dir.h"

namespace tolvane::test {

/// Started once per test process, on first use, and stopped when the process ends: libsecret
/// and GDBus bind to one session bus per process, so the bus and its keyring must outlive every
/// test that uses them. The bus (GLib's test bus) has no activatable services, so nothing else
/// starts on it.
///
/// The keyring runs as `gnome-keyring-daemon --unlock --components=secrets --foreground`, its
/// empty login password on standard input, with HOME and XDG_DATA_HOME in a fresh folder (its
/// keyrings go there, never to the user's), a private XDG_RUNTIME_DIR and the bus's address.
class KeyringSession {
 public:
  /// The process's session; its bus is this process's session bus once it runs.
  static KeyringSession& shared();

  /// Why the bus or the keyring could not be started; empty when both run.
  const std::string& problem() const { return problem_; }

  ~KeyringSession();
  KeyringSession(const KeyringSession&) = delete;
  KeyringSession& operator=(const KeyringSession&) = delete;

 private:
  KeyringSession();
  bool startBus();
  bool startKeyring();
  bool waitForSecretService();

  TempDir home_;
  // GLib's test bus (GTestDBus), which kills its daemon should this process die.
  std::shared_ptr<void> bus_;
  // This process's session bus connection (GDBusConnection), held so that it is never replaced
  // by one that ends the process when the bus stops at exit.
  std::shared_ptr<void> connection_;
  std::string busAddress_;
  pid_t keyring_ = -1;
  std::string problem_;
};

}  // namespace tolvane::test
