// The secret store in the user's keyring: items of the Secret Service (libsecret) on the
// session bus, read once and written on a worker thread so the main thread never waits on D-Bus.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/secret_store.h"

namespace tolvane::system {

/// One item per account in the default collection: schema `schemaName`, attribute "account" =
/// the account, label "Tolvane <account>", the value as UTF-8 text.
///
/// get() answers from memory: the known accounts are read when the store opens, and set() and
/// remove() change memory at once and the keyring on the store's own worker, in order. A
/// locked keyring may show an unlock prompt and hold that worker for minutes; the main thread
/// waits only in open() and in the destructor, both bounded. A failed write is logged and
/// forgotten, as a keyring write is best effort.
class SecretServiceStore final : public SecretStore {
 public:
  /// Receives one line per noteworthy event; never a secret value.
  using Diagnostic = std::function<void(const std::string& line)>;

  struct Options {
    /// The items' schema name: the bundle identifier.
    std::string schemaName;
    /// Accounts read at open, the only ones get() can find besides those set since.
    std::vector<std::string> accounts;
    /// How long open() waits for the service to answer and for the accounts' values.
    std::chrono::milliseconds answerWait{2000};
    /// How long the destructor lets queued writes finish before it cancels them.
    std::chrono::milliseconds quitWait{5000};
    Diagnostic diagnostic;
  };

  /// A store on the session bus's Secret Service ("org.freedesktop.secrets", or the name in
  /// $SECRET_SERVICE_BUS_NAME, which libsecret reads), or nothing, with the reason in `whyNot`,
  /// when no service answers within `answerWait` or it has no default collection to store into.
  /// Accounts whose values take longer than `answerWait` to read (an unlock prompt) appear in
  /// get() once they arrive, unless set or removed before.
  static std::unique_ptr<SecretServiceStore> open(Options options, std::string& whyNot);

  /// Lets queued writes finish for at most `quitWait`, then cancels what is left (logged).
  ~SecretServiceStore() override;
  SecretServiceStore(const SecretServiceStore&) = delete;
  SecretServiceStore& operator=(const SecretServiceStore&) = delete;

  std::optional<std::string> get(const std::string& account) override;
  /// Refuses (and logs) an account or value past the limits of secret_values.h.
  void set(const std::string& account, const std::string& value) override;
  void remove(const std::string& account) override;

  /// Blocks until the reads, writes and removals submitted so far have reached the service or
  /// failed. Not bounded: for tests and tools, never the main thread of the application.
  void flush();

 private:
  struct Worker;
  explicit SecretServiceStore(Options options);

  std::unique_ptr<Worker> worker_;
};

}  // namespace tolvane::system
