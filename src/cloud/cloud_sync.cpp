// Scheduling, the wire exchange with the service and the bookkeeping of settings sync.
#include "cloud/cloud_sync.h"

#include <cstdint>
#include <utility>

#include "cloud/cloud_account.h"
#include "cloud/sync_payload.h"
#include "settings/preference_keys.h"
#include "wire/cloud_bodies.h"

namespace tolvane {

CloudSync::Dependencies CloudSync::following(CloudAccount& account, Dependencies deps) {
  deps.deviceID = [&account] { return account.deviceID(); };
  deps.signedIn = [&account] { return account.state().signedIn; };
  deps.token = [&account] { return account.token(); };
  deps.accountEmail = [&account] { return account.state().email; };
  deps.subscribeToAccount = [&account](std::function<void()> handler) {
    return account.subscribe(std::move(handler));
  };
  return deps;
}

CloudSync::CloudSync(Dependencies deps) : deps_(std::move(deps)) {}

CloudSync::~CloudSync() {
  deps_.runLoop.cancel(pushWork_);
}

void CloudSync::start() {
  settingsSubscription_ = deps_.settings.subscribe([this] { schedulePush(); });
  if (deps_.subscribeToAccount) {
    accountSubscription_ = deps_.subscribeToAccount([this] { accountChanged(); });
  }
  accountChanged();
}

void CloudSync::accountChanged() {
  const bool signedIn = deps_.signedIn && deps_.signedIn();
  if (signedIn) keepBookkeepingOfThisAccount();
  // Only the step into signed in pulls: a refresh that changes the e-mail or tier is no new
  // sign-in, and pulling on it would only repeat the last pull.
  if (signedIn && !wasSignedIn_) pull(false);
  wasSignedIn_ = signedIn;
}

void CloudSync::keepBookkeepingOfThisAccount() {
  // Another account's (or another service's) version 7 must not make this account's version 3
  // look old, nor its last blob make a change look already sent.
  const std::string account =
      deps_.cloud.baseURL() + "\n" + (deps_.accountEmail ? deps_.accountEmail() : "");
  if (deps_.secrets.get(secretkey::kCloudSyncAccount) == account) return;
  const bool hadBookkeeping = deps_.preferences.value(prefkey::kCloudSyncBaseVersion) ||
                              deps_.preferences.value(prefkey::kCloudSyncLastBlob);
  deps_.preferences.remove(prefkey::kCloudSyncBaseVersion);
  deps_.preferences.remove(prefkey::kCloudSyncLastBlob);
  deps_.secrets.set(secretkey::kCloudSyncAccount, account);
  if (hadBookkeeping) deps_.log.log("sync: bookkeeping reset reason=account-changed");
}

bool CloudSync::enabled() const {
  return deps_.preferences.boolValue(prefkey::kCloudSyncEnabled).value_or(true);
}

void CloudSync::setEnabled(bool on) {
  deps_.preferences.set(prefkey::kCloudSyncEnabled, on);
  changed_.notify();
  if (on) pull(false);
}

Notifier::Subscription CloudSync::subscribe(std::function<void()> handler) {
  return changed_.subscribe(std::move(handler));
}

void CloudSync::pull(bool force) {
  deps_.runLoop.post(guarded([this, force] { pullNow(force); }));
}

void CloudSync::schedulePush() {
  if (applyingRemote_ || !enabled() || !token()) return;
  deps_.runLoop.cancel(pushWork_);
  pushWork_ = deps_.runLoop.postAfter(kPushDelaySeconds, guarded([this] {
                                        pushWork_ = 0;
                                        pushIfChanged();
                                      }));
}

void CloudSync::pushIfChanged() {
  if (!enabled() || !token()) return;
  std::string blob = snapshotBlob();
  if (blob == lastBlob()) return;
  deps_.runLoop.post(guarded([this, blob = std::move(blob)] { push(blob); }));
}

std::string CloudSync::snapshotBlob() const {
  return SyncPayload::from(deps_.settings).blob();
}

std::optional<std::string> CloudSync::token() const {
  return deps_.token ? deps_.token() : std::nullopt;
}

std::int64_t CloudSync::baseVersion() const {
  return deps_.preferences.intValue(prefkey::kCloudSyncBaseVersion).value_or(0);
}

std::optional<std::string> CloudSync::lastBlob() const {
  return deps_.preferences.stringValue(prefkey::kCloudSyncLastBlob);
}

void CloudSync::setStatus(Status status) {
  if (status_ == status) return;
  status_ = status;
  changed_.notify();
}

void CloudSync::push(const std::string& blob) {
  if (!token()) return;
  if (inFlight_) {
    // Sent after the reply, with the base version that reply brings, and recomputed then: the
    // settings may change again meanwhile.
    pushAfterFlight_ = true;
    return;
  }
  inFlight_ = true;
  sendPush(blob);
}

void CloudSync::pullNow(bool force) {
  if (!enabled() || !token()) return;
  if (inFlight_) {
    pullAfterFlight_ = pullAfterFlight_.value_or(false) || force;
    return;
  }
  inFlight_ = true;
  sendPull(force);
}

void CloudSync::sendPush(const std::string& blob) {
  const auto bearer = token();
  if (!bearer) return endFlight();
  setStatus(Status::syncing);
  auto request =
      deps_.cloud.request(CloudEndpoint::sync, "PUT", bearer,
                          wire::encode(wire::SyncPush{blob, baseVersion(), deps_.deviceID()}));
  if (!request) return fail("push", "no request");
  // The blob that was sent is the one committed, whatever the settings hold when the reply
  // comes: a change made meanwhile is still unsynchronised and must still differ.
  send(std::move(*request), [this, blob](const CloudReply& reply) { onPushReply(blob, reply); });
}

void CloudSync::sendPull(bool force) {
  const auto bearer = token();
  if (!enabled() || !bearer) return endFlight();
  setStatus(Status::syncing);
  auto request = deps_.cloud.request(CloudEndpoint::sync, "GET", bearer, std::nullopt);
  if (!request) return fail("pull", "no request");
  send(std::move(*request), [this, force](const CloudReply& reply) { onPullReply(force, reply); });
}

void CloudSync::onPushReply(const std::string& blob, const CloudReply& reply) {
  if (reply.failure == CloudFailure::conflict && !conflictSeen_) {
    // Another machine pushed first: its settings win.
    conflictSeen_ = true;
    deps_.log.log("sync: push conflict, pulling");
    return sendPull(true);
  }
  if (!reply.ok()) return fail("push", describe(reply));
  const auto version = wire::readPushedVersion(*reply.object);
  if (!version) return fail("push", "invalid (version)");
  commit(blob, *version);
  deps_.log.log("sync: pushed version=" + std::to_string(*version));
  endFlight();
}

void CloudSync::onPullReply(bool force, const CloudReply& reply) {
  if (!reply.ok()) return fail("pull", describe(reply));
  std::string whyNot;
  const auto remote = wire::readSyncState(*reply.object, whyNot);
  if (!remote) return fail("pull", "invalid (" + whyNot + ")");
  const std::int64_t remoteVersion = remote->version.value_or(0);
  const auto& blob = remote->blob;
  if (remoteVersion == 0 || !blob) return sendPush(snapshotBlob());
  if (!force && baseVersion() >= remoteVersion) {
    std::string local = snapshotBlob();
    if (local != lastBlob()) return sendPush(local);
    setStatus(Status::idle);
    return endFlight();
  }
  applyRemote(*blob, remoteVersion);
  endFlight();
}

void CloudSync::applyRemote(const std::string& blob, std::int64_t version) {
  if (auto payload = SyncPayload::decode(blob, deps_.log)) {
    applyingRemote_ = true;
    payload->apply(deps_.settings);
    applyingRemote_ = false;
    deps_.log.log("sync: applied version=" + std::to_string(version));
  } else {
    deps_.log.log("sync: unreadable blob recorded version=" + std::to_string(version));
  }
  // An unreadable blob still becomes the base: fetching it again would not mend it.
  commit(blob, version);
}

void CloudSync::commit(const std::string& blob, std::int64_t version) {
  deps_.preferences.set(prefkey::kCloudSyncBaseVersion, version);
  deps_.preferences.set(prefkey::kCloudSyncLastBlob, blob);
  setStatus(Status::idle);
}

void CloudSync::fail(std::string_view what, const std::string& reason) {
  deps_.log.log("sync: " + std::string(what) + " failed reason=" + reason);
  setStatus(Status::error);
  endFlight();
}

void CloudSync::endFlight() {
  inFlight_ = false;
  conflictSeen_ = false;
  // A chain that stopped because sync went off or the account signed out is no error.
  if (status_ == Status::syncing) setStatus(Status::idle);
  if (const auto force = std::exchange(pullAfterFlight_, std::nullopt)) {
    pullNow(*force);
    if (inFlight_) return;  // a push asked for meanwhile waits for this pull
  }
  if (std::exchange(pushAfterFlight_, false)) pushIfChanged();
}

void CloudSync::send(HttpRequest request, std::function<void(const CloudReply&)> done) {
  sendCloudRequest(deps_.http, deps_.runLoop, std::move(request), alive_,
                   [done = std::move(done)](CloudReply reply) { done(reply); });
}

std::function<void()> CloudSync::guarded(std::function<void()> fn) {
  return [alive = std::weak_ptr<char>(alive_), fn = std::move(fn)] {
    if (alive.lock()) fn();
  };
}

}  // namespace tolvane
