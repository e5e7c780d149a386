// Browser sign-in, token exchange, refresh and sign-out of the cloud account.
#include "cloud/cloud_account.h"

#include <mutex>
#include <utility>

#include "base/random_uuid.h"
#include "cloud/callback_url.h"
#include "cloud/cloud_reply.h"
#include "cloud/pkce.h"
#include "wire/cloud_bodies.h"

namespace tolvane {

namespace {

CloudAccountState signedIn(std::string email, std::string tier) {
  return {.signedIn = true, .email = std::move(email), .tier = std::move(tier)};
}

}  // namespace

std::optional<std::string> storedTokenFor(SecretStore& secrets, const CloudConfig& cloud) {
  auto token = secrets.get(secretkey::kCloudToken);
  // An empty token is no credential: the service could only refuse it.
  if (!token || token->empty()) return std::nullopt;
  if (secrets.get(secretkey::kCloudTokenBase) != cloud.baseURL()) return std::nullopt;
  return token;
}

struct CloudAccount::Impl : std::enable_shared_from_this<Impl> {
  explicit Impl(Dependencies d);

  /// The sign-in the next callback must match.
  struct Pending {
    std::string verifier;
    std::string state;
  };

  /// Takes the account the secret store holds, unless a sign-in came first.
  void adoptStored();
  void publish(CloudAccountState next);
  /// Why a parsed callback is not the one of the pending sign-in; empty when it is.
  std::string_view refusalOf(const CallbackParse& parsed) const;
  void forgetAccount();
  std::optional<std::string> storedToken() const;
  std::optional<std::string> deviceID();
  void exchange(const std::string& code, const std::string& verifier, const std::string& device);
  void finishExchange(const CloudReply& reply);
  void finishRefresh(const std::string& sentToken, const CloudReply& reply);
  void finishSignOutEverywhere(const std::string& sentToken, const CloudReply& reply);
  /// Sends `request`; `done` runs on the main thread while this account lives.
  void send(HttpRequest request, std::function<void(Impl&, CloudReply)> done);

  Dependencies deps;
  CloudAccountState state;
  Notifier notifier;
  std::optional<Pending> pending;
  // "cloudToken" as last read or written. Other components ask for it from their own threads,
  // and the secret store may be a round trip on the session bus.
  mutable std::mutex tokenLock;
  std::optional<std::string> token;
};

CloudAccount::Impl::Impl(Dependencies d) : deps(d) {}

void CloudAccount::Impl::adoptStored() {
  if (storedToken()) return;
  auto stored = storedTokenFor(deps.secrets, deps.cloud);
  if (!stored) {
    const auto other = deps.secrets.get(secretkey::kCloudToken);
    if (other && !other->empty())
      deps.log.log("cloud account: signed out reason=token-not-issued-here");
    return;
  }
  {
    std::lock_guard guard(tokenLock);
    token = std::move(stored);
  }
  publish(signedIn(deps.secrets.get(secretkey::kCloudEmail).value_or(""),
                   deps.secrets.get(secretkey::kCloudTier).value_or("free")));
}

void CloudAccount::Impl::publish(CloudAccountState next) {
  state = std::move(next);
  notifier.notify();
}

std::string_view CloudAccount::Impl::refusalOf(const CallbackParse& parsed) const {
  if (!parsed.callback) return parsed.refusal;
  if (!pending) return "no-pending";
  if (!sameSecret(parsed.callback->state, pending->state)) return "state";
  return {};
}

void CloudAccount::Impl::forgetAccount() {
  deps.secrets.remove(secretkey::kCloudToken);
  deps.secrets.remove(secretkey::kCloudTokenBase);
  deps.secrets.remove(secretkey::kCloudEmail);
  deps.secrets.remove(secretkey::kCloudTier);
  std::lock_guard guard(tokenLock);
  token.reset();
}

std::optional<std::string> CloudAccount::Impl::storedToken() const {
  std::lock_guard guard(tokenLock);
  return token;
}

std::optional<std::string> CloudAccount::Impl::deviceID() {
  if (auto stored = deps.secrets.get(secretkey::kCloudDeviceID); stored && !stored->empty()) {
    return stored;
  }
  auto fresh = randomUUID(deps.random);
  if (fresh) deps.secrets.set(secretkey::kCloudDeviceID, *fresh);
  return fresh;
}

void CloudAccount::Impl::send(HttpRequest request, std::function<void(Impl&, CloudReply)> done) {
  std::weak_ptr<Impl> self = weak_from_this();
  sendCloudRequest(deps.http, deps.runLoop, std::move(request), self,
                   [self, done = std::move(done)](CloudReply reply) {
                     if (auto account = self.lock()) done(*account, std::move(reply));
                   });
}

void CloudAccount::Impl::exchange(const std::string& code, const std::string& verifier,
                                  const std::string& device) {
  // A stored device id is not ours to trust to be UTF-8: the body replaces a stray byte.
  auto request = deps.cloud.request(CloudEndpoint::token, "POST", std::nullopt,
                                    wire::encode(wire::TokenRequest{code, verifier, device}));
  if (!request) return;
  send(std::move(*request), [](Impl& self, CloudReply reply) { self.finishExchange(reply); });
}

void CloudAccount::Impl::finishExchange(const CloudReply& reply) {
  if (!reply.ok()) {
    deps.log.log("cloud exchange: failed reply=" + describe(reply));
    return;
  }
  auto account = wire::readAccountReply(*reply.object, /*needsToken=*/true);
  if (!account) {
    deps.log.log("cloud exchange: failed reason=token");
    return;
  }
  // The token before its address: cut off between the two, an older address makes the new
  // token unusable rather than sends it to a service that did not issue it.
  deps.secrets.set(secretkey::kCloudToken, *account->token);
  deps.secrets.set(secretkey::kCloudTokenBase, deps.cloud.baseURL());
  deps.secrets.set(secretkey::kCloudEmail, account->email);
  deps.secrets.set(secretkey::kCloudTier, account->tier);
  {
    std::lock_guard guard(tokenLock);
    token = std::move(account->token);
  }
  deps.log.log("cloud exchange: signed in");
  publish(signedIn(std::move(account->email), std::move(account->tier)));
}

void CloudAccount::Impl::finishRefresh(const std::string& sentToken, const CloudReply& reply) {
  // A sign-out or another sign-in while "me" was in the air: the reply speaks of a token that
  // is gone, and must neither sign the new account out nor bring the old one back.
  if (storedToken() != sentToken) {
    deps.log.log("cloud refresh: ignored reason=token-changed");
    return;
  }
  if (reply.failure == CloudFailure::unauthorized) {
    forgetAccount();
    deps.log.log("cloud refresh: signed out reply=401");
    publish({});
    return;
  }
  if (!reply.ok()) {
    deps.log.log("cloud refresh: unchanged reply=" + describe(reply));
    return;
  }
  // Any object reads: what may not be shown becomes "" and "free", as an empty reply would.
  auto account =
      wire::readAccountReply(*reply.object, /*needsToken=*/false).value_or(wire::AccountReply{});
  deps.secrets.set(secretkey::kCloudEmail, account.email);
  deps.secrets.set(secretkey::kCloudTier, account.tier);
  deps.log.log("cloud refresh: ok");
  publish(signedIn(std::move(account.email), std::move(account.tier)));
}

CloudAccount::CloudAccount(Dependencies deps) : impl_(std::make_shared<Impl>(deps)) {
  // A keyring still opening must not hold up start-up: the account appears once it answers.
  impl_->deps.secrets.whenOpen([self = std::weak_ptr<Impl>(impl_)] {
    if (auto account = self.lock()) account->adoptStored();
  });
}

CloudAccount::~CloudAccount() = default;

void CloudAccount::start() {
  // The refresh needs the stored token.
  impl_->deps.secrets.whenOpen([this, self = std::weak_ptr<Impl>(impl_)] {
    if (!self.expired()) refresh();
  });
}

void CloudAccount::signIn() {
  auto& d = impl_->deps;
  auto pair = makePkcePair(d.random, d.digest);
  if (!pair) {
    d.log.log("cloud sign-in: not started reason=random");
    return;
  }
  impl_->pending = Impl::Pending{pair->verifier, pair->state};
  const bool opened = d.workspace.openURL(d.cloud.connectURL(pair->challenge, pair->state));
  d.log.log(std::string("cloud sign-in: opened=") + (opened ? "true" : "false"));
}

bool CloudAccount::handleCallback(const std::string& url) {
  auto& d = impl_->deps;
  const CallbackParse parsed = parseAuthCallback(url);
  if (const auto refusal = impl_->refusalOf(parsed); !refusal.empty()) {
    d.log.log("cloud callback: refused reason=" + std::string(refusal));
    return false;
  }
  const auto device = impl_->deviceID();
  if (!device) {
    d.log.log("cloud callback: refused reason=device-id");
    return false;
  }
  // Accepted once: the same callback opened again (or a forged copy of it) finds nothing
  // pending.
  const Impl::Pending accepted = std::move(*impl_->pending);
  impl_->pending.reset();
  d.log.log("cloud callback: accepted");
  impl_->exchange(parsed.callback->code, accepted.verifier, *device);
  return true;
}

void CloudAccount::refresh() {
  auto& d = impl_->deps;
  const auto sent = impl_->storedToken();
  if (!sent) {
    d.log.log("cloud refresh: skipped reason=signed-out");
    return;
  }
  auto request = d.cloud.request(CloudEndpoint::me, "GET", *sent, std::nullopt);
  if (!request) return;
  impl_->send(std::move(*request),
              [sent = *sent](Impl& self, CloudReply reply) { self.finishRefresh(sent, reply); });
}

void CloudAccount::signOut() {
  auto& d = impl_->deps;
  const auto had = impl_->storedToken();
  // Signed out here already: a token stored for another service stays for that service.
  if (had) impl_->forgetAccount();
  d.log.log(std::string("cloud sign-out: logout=") + (had ? "sent" : "none"));
  impl_->publish({});
  if (!had) return;
  auto request = d.cloud.request(CloudEndpoint::logout, "POST", *had, "{}");
  if (!request) return;
  impl_->send(std::move(*request), [](Impl& self, CloudReply reply) {
    self.deps.log.log("cloud sign-out: logout reply=" + describe(reply));
  });
}

void CloudAccount::signOutEverywhere() {
  auto& d = impl_->deps;
  const auto sent = impl_->storedToken();
  if (!sent) return signOut();
  auto request = d.cloud.request(CloudEndpoint::logoutAll, "POST", *sent, "{}");
  if (!request) return;
  d.log.log("cloud sign-out everywhere: sent");
  impl_->send(std::move(*request), [token = *sent](Impl& self, CloudReply reply) {
    self.finishSignOutEverywhere(token, reply);
  });
}

void CloudAccount::Impl::finishSignOutEverywhere(const std::string& sentToken,
                                                 const CloudReply& reply) {
  deps.log.log("cloud sign-out everywhere: reply=" + describe(reply));
  // A 401 says the token was already ended; either way no session of it is left.
  const bool ended = reply.ok() || reply.failure == CloudFailure::unauthorized;
  if (!ended || storedToken() != sentToken) return;
  forgetAccount();
  publish({});
}

const CloudAccountState& CloudAccount::state() const {
  return impl_->state;
}

Notifier::Subscription CloudAccount::subscribe(std::function<void()> handler) {
  return impl_->notifier.subscribe(std::move(handler));
}

std::optional<std::string> CloudAccount::token() const {
  return impl_->storedToken();
}

std::string CloudAccount::deviceID() {
  return impl_->deviceID().value_or("");
}

}  // namespace tolvane
