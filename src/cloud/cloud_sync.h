// Settings sync: the synchronised settings kept equal on every machine signed in to the same
// account, as one blob the service stores under an increasing version.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/run_loop.h"
#include "cloud/cloud_reply.h"
#include "diagnostics/debug_log.h"
#include "model/cloud_config.h"
#include "platform/http_client.h"
#include "platform/notifier.h"
#include "platform/preferences.h"
#include "platform/secret_store.h"
#include "settings/app_settings.h"

namespace tolvane {

class CloudAccount;

/// Pushes the local blob after the settings change and pulls the service's blob at sign-in.
/// Main thread only; replies hop back through the run loop before touching anything.
///
/// At most one request is in the air: a push or pull asked for meanwhile goes out after the
/// reply, so a second push never carries a base version the first one has already moved on.
class CloudSync {
 public:
  enum class Status { idle, syncing, error };

  /// A burst of settings changes becomes one push, this long after the last change.
  static constexpr double kPushDelaySeconds = 2.0;

  struct Dependencies {
    AppSettings& settings;
    /// Where "cloudSyncEnabled", "cloudSyncLastBlob" and "cloudSyncBaseVersion" live.
    PreferenceStore& preferences;
    /// Holds whose the bookkeeping is, "cloudSyncAccount" (the token comes from `token`).
    SecretStore& secrets;
    HttpClient& http;
    RunLoop& runLoop;
    const CloudConfig& cloud;
    DebugLog& log;
    /// This machine's id at the service, created and stored on first use.
    std::function<std::string()> deviceID;
    /// Whether the account is signed in now.
    std::function<bool()> signedIn;
    /// The signed-in account's bearer token, as the account holds it: asked on every settings
    /// change, so it must not wait for a secret store that is still opening.
    std::function<std::optional<std::string>()> token;
    /// The signed-in account's e-mail ("" when the service showed none).
    std::function<std::string()> accountEmail;
    /// Calls the handler after every change of the account's state.
    std::function<Notifier::Subscription(std::function<void()>)> subscribeToAccount;
  };

  /// `deps` with its account-facing functions answered by `account`, which must outlive the
  /// sync.
  static Dependencies following(CloudAccount& account, Dependencies deps);

  explicit CloudSync(Dependencies deps);
  ~CloudSync();
  CloudSync(const CloudSync&) = delete;
  CloudSync& operator=(const CloudSync&) = delete;

  /// Schedules a push after every settings change, and pulls whenever the account becomes
  /// signed in (at once when it already is). The base version and last blob belong to one
  /// account at one service: when either changes they are dropped before the pull.
  void start();

  /// The sync switch, "cloudSyncEnabled"; on when the key is absent.
  bool enabled() const;
  /// Stores the switch; switching it on pulls. Switching it off deletes nothing.
  void setEnabled(bool on);

  Status status() const { return status_; }
  /// Called after every change of status() or enabled().
  [[nodiscard]] Notifier::Subscription subscribe(std::function<void()> handler);

  /// Pulls on a later turn of the run loop. `force` applies the service's blob even when it is
  /// not newer than the local base.
  void pull(bool force);
  /// Replaces the pending push with one kPushDelaySeconds from now. Does nothing while sync is
  /// off, signed out, or while a remote blob is being applied (its changes are no news).
  void schedulePush();
  /// Pushes the current blob when it differs from the last one synchronised.
  void pushIfChanged();
  /// The blob of the current settings.
  std::string snapshotBlob() const;

 private:
  std::optional<std::string> token() const;
  std::int64_t baseVersion() const;
  std::optional<std::string> lastBlob() const;
  void setStatus(Status status);

  // Each request runs inside a flight: begin claims it, end releases it and sends what was
  // asked for meanwhile. Requests chained on a reply (a push after a pull, a pull after a
  // conflict) stay within the flight.
  void push(const std::string& blob);
  void pullNow(bool force);
  void sendPush(const std::string& blob);
  void sendPull(bool force);
  void onPushReply(const std::string& blob, const CloudReply& reply);
  void onPullReply(bool force, const CloudReply& reply);
  void applyRemote(const std::string& blob, std::int64_t version);
  void commit(const std::string& blob, std::int64_t version);
  void fail(std::string_view what, const std::string& reason);
  void endFlight();
  void accountChanged();
  void keepBookkeepingOfThisAccount();
  void send(HttpRequest request, std::function<void(const CloudReply&)> done);
  /// `fn` wrapped so it does nothing once this object is gone.
  std::function<void()> guarded(std::function<void()> fn);

  Dependencies deps_;
  Status status_ = Status::idle;
  bool applyingRemote_ = false;
  TimerId pushWork_ = 0;
  bool inFlight_ = false;
  /// A 409 within this flight: a second one ends it, so a service that refuses every push
  /// while reporting no data cannot keep us pushing.
  bool conflictSeen_ = false;
  bool pushAfterFlight_ = false;
  std::optional<bool> pullAfterFlight_;
  bool wasSignedIn_ = false;
  Notifier changed_;
  Notifier::Subscription settingsSubscription_;
  Notifier::Subscription accountSubscription_;
  // Replies and posted work hold it weakly: nothing runs after destruction.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace tolvane
