// Where the secrets live on this machine: the keyring when one answers, else a private file;
// chosen on a thread of its own so that start-up never waits for the keyring.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files.h"
#include "base/run_loop.h"
#include "diagnostics/debug_log.h"
#include "platform/crash_diagnostics.h"
#include "platform/digest.h"
#include "platform/http_client.h"
#include "platform/login_items.h"
#include "platform/process_log.h"
#include "platform/secret_store.h"
#include "platform/system_info.h"
#include "platform/system_log.h"

namespace tolvane::system {

/// The fallback file of `bundle` under `paths`: "<dataHome>/<identifier>/secrets.json".
std::string secretFilePath(const UserPaths& paths, const BundleInfo& bundle);

/// The Secret Service's store (schema = the bundle identifier, `accounts` read at once) when a
/// service with a default collection answers on the session bus within two seconds; otherwise
/// the file store at secretFilePath(), with one notice in `log` saying that the secrets are not
/// in a keyring, why, and where they are. `files` and `log` must outlive the store.
std::unique_ptr<SecretStore> makeSecretStore(const BundleInfo& bundle, const UserPaths& paths,
                                             std::vector<std::string> accounts, FileSystem& files,
                                             std::uint32_t uid, DebugLog& log);

/// A store that is opened on a thread of its own: the keyring's first answer can take seconds
/// (its D-Bus activation), and the main thread must not wait for it. Whoever needs a secret at
/// start asks whenOpen(); get(), set() and remove() before that wait for the opening, which the
/// opener bounds.
class OpeningSecretStore final : public SecretStore {
 public:
  /// Runs once, on the store's thread; never returns nothing.
  using Opener = std::function<std::unique_ptr<SecretStore>()>;

  /// Starts `opener` at once; the callbacks of whenOpen() reach the main thread through
  /// `runLoop`, which must outlive the store.
  OpeningSecretStore(RunLoop& runLoop, Opener opener);
  /// Waits for an opening still under way.
  ~OpeningSecretStore() override;
  OpeningSecretStore(const OpeningSecretStore&) = delete;
  OpeningSecretStore& operator=(const OpeningSecretStore&) = delete;

  std::optional<std::string> get(const std::string& account) override;
  void set(const std::string& account, const std::string& value) override;
  void remove(const std::string& account) override;
  void whenOpen(std::function<void()> opened) override;

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread opening_;
};

}  // namespace tolvane::system
