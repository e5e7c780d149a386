// The user's account on the backend service: browser sign-in with PKCE, the bearer token and
// the account's e-mail and tier kept in the secret store, refresh and sign-out.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/random_source.h"
#include "base/run_loop.h"
#include "diagnostics/debug_log.h"
#include "model/cloud_config.h"
#include "platform/digest.h"
#include "platform/http_client.h"
#include "platform/notifier.h"
#include "platform/secret_store.h"
#include "platform/workspace.h"

namespace tolvane {

/// Secret-store accounts of the cloud account.
namespace secretkey {
inline constexpr const char* kCloudToken = "cloudToken";
/// The base address of the service that issued "cloudToken".
inline constexpr const char* kCloudTokenBase = "cloudTokenBase";
inline constexpr const char* kCloudEmail = "cloudEmail";
inline constexpr const char* kCloudTier = "cloudTier";
inline constexpr const char* kCloudDeviceID = "cloudDeviceID";
/// Whose settings sync's bookkeeping is: "<base>\n<e-mail>". Secret, not a preference: the
/// preference file may be published with the user's dotfiles.
inline constexpr const char* kCloudSyncAccount = "cloudSyncAccount";
}  // namespace secretkey

/// The stored token when the service at `cloud` issued it: a token is that service's alone, and
/// another address means signed out there (the token stays stored for its own service). A token
/// stored without its service's address is sent nowhere, since it cannot be told whose it is.
std::optional<std::string> storedTokenFor(SecretStore& secrets, const CloudConfig& cloud);

/// Signed in (with the account's e-mail and tier) or signed out.
struct CloudAccountState {
  bool signedIn = false;
  std::string email;
  std::string tier;

  bool operator==(const CloudAccountState&) const = default;
};

/// One per process. Main thread only; requests complete on the HTTP worker and hop back
/// through the run loop before touching any state.
class CloudAccount {
 public:
  struct Dependencies {
    SecretStore& secrets;
    HttpClient& http;
    RunLoop& runLoop;
    /// Opens the sign-in page in the user's browser.
    Workspace& workspace;
    RandomSource& random;
    const Digest& digest;
    const CloudConfig& cloud;
    DebugLog& log;
  };

  /// Signed in as soon as the secret store is open and holds a token (with the stored e-mail,
  /// or "", and tier, or "free"), so the interface shows the account before the network
  /// answers: at once for an open store, with a notification for one still opening. An empty
  /// stored token counts as none.
  explicit CloudAccount(Dependencies deps);
  ~CloudAccount();
  CloudAccount(const CloudAccount&) = delete;
  CloudAccount& operator=(const CloudAccount&) = delete;

  /// Refreshes the account from the service, once the secret store is open.
  void start();
  /// Opens the browser sign-in; replaces any sign-in in progress.
  void signIn();
  /// A URL that arrived through the URL scheme. True exactly when it was the callback of the
  /// pending sign-in and the token exchange has started.
  bool handleCallback(const std::string& url);
  /// Re-reads the account from the service; a 401 signs out, other failures change nothing.
  void refresh();
  /// Forgets the account locally at once, then tells the service (result ignored).
  void signOut();
  /// Asks the service to end every session of the account, then forgets it locally once the
  /// service has answered (or refused the token as already invalid); any other answer keeps
  /// the account, so the user can try again.
  void signOutEverywhere();

  const CloudAccountState& state() const;
  /// Called each time the state is set, also when a refresh confirms the account unchanged,
  /// so that a subscriber can act on every confirmed sign-in.
  [[nodiscard]] Notifier::Subscription subscribe(std::function<void()> handler);

  /// The bearer token, when signed in. Safe from any thread (the usage reporter asks from its
  /// queue).
  std::optional<std::string> token() const;
  /// This machine's id at the service: "cloudDeviceID", created and stored on first use; empty
  /// when the secure random source cannot make one.
  std::string deviceID();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tolvane
