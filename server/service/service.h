// The endpoints of tolvane-server, free of any HTTP library: a request in, a reply out. The HTTP
// binding (http/) feeds it; tests call it directly. Thread-safe: requests arrive on a pool.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "auth/passwords.h"
#include "http/body_limits.h"
#include "service/rate_limiter.h"

namespace tolvane::server {

class Storage;

struct Request {
  /// Upper case, as sent.
  std::string method;
  /// Without the query.
  std::string path;
  /// Decoded query items (the first of each name).
  std::map<std::string, std::string> query;
  /// The "Authorization" header, "" when absent.
  std::string authorization;
  std::string contentType;
  std::string body;
  /// The client's address: the peer, or the proxy's word for it when behind one.
  std::string address;
};

struct Reply {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  /// Extra headers (Location, Retry-After, WWW-Authenticate, Cache-Control…).
  std::map<std::string, std::string> headers;
  /// For the request log: the account the request acted for (0: none) and why it failed.
  std::int64_t accountId = 0;
  std::string error;
};

/// Limits and costs; the defaults are for a public deployment. Client addresses are counted
/// as `addressKey` gives them (an IPv6 client by its /64).
struct ServiceConfig {
  PasswordCost passwordCost;
  /// Sign-in attempts (the page's form and the token exchange) per client address, and per
  /// e-mail address from one client address: failures from elsewhere never hold the owner
  /// back at their own address.
  RateLimit signInPerAddress{.burst = 30, .perSecond = 30.0 / 600};
  RateLimit signInPerAccount{.burst = 10, .perSecond = 10.0 / 900};
  /// Sign-in pages opened per client address; each one stores a pending sign-in, and at most
  /// `maxPendingSignIns` live ones are kept in all.
  RateLimit pagesPerAddress{.burst = 30, .perSecond = 30.0 / 600};
  std::int64_t maxPendingSignIns = 100000;
  /// Uploads (usage batches, crash reports, tester logs) per client address and per account
  /// (the install id when nobody is signed in), and their bytes per client address.
  RateLimit uploadsPerAddress{.burst = 120, .perSecond = 2};
  RateLimit uploadsPerAccount{.burst = 30, .perSecond = 0.5};
  RateLimit uploadBytesPerAddress{.burst = 32 << 20, .perSecond = (256 << 20) / 86400.0};
  /// Uploads are kept this long, then dropped by a daily purge.
  std::int64_t keepUploadsSeconds = 90 * 86400;
  /// A token unused this long is no longer valid; each use renews it.
  std::int64_t tokenIdleSeconds = 90 * 86400;
  /// Closed, the sign-in page only signs in: accounts are made by the operator's command.
  bool signUpOpen = true;
  /// A sign-in page must be submitted, and a code exchanged, within these many seconds.
  std::int64_t pageLifetime = 900;
  std::int64_t codeLifetime = 120;
};

/// Passwords: the sign-in page's and the operator's add-account command's bounds.
inline constexpr std::size_t kMaxPasswordBytes = 1024;
inline constexpr std::size_t kMinNewPasswordBytes = 8;

/// Body bounds per endpoint: the HTTP binding's, so that a body is parsed under the bound sized
/// to its endpoint however it arrives; and a sync blob's own.
struct BodyLimits {
  static constexpr std::size_t kForm = body_limit::kForm;
  static constexpr std::size_t kToken = body_limit::kToken;
  static constexpr std::size_t kSyncBlob = 1024 * 1024;
  static constexpr std::size_t kSync = body_limit::kSync;
  static constexpr std::size_t kUsage = body_limit::kUsage;
  static constexpr std::size_t kCrash = body_limit::kCrash;
  static constexpr std::size_t kTesterLog = body_limit::kTesterLog;
};

class Service {
 public:
  /// `now` gives seconds since 1970 (the simulated clock in tests).
  Service(Storage& storage, ServiceConfig config, std::function<double()> now);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  Reply handle(const Request& request);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvane::server
