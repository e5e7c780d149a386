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

/// Limits and costs; the defaults are for a public deployment.
struct ServiceConfig {
  PasswordCost passwordCost;
  /// Sign-in attempts (the page's form and the token exchange) per client address and per
  /// e-mail address.
  RateLimit signInPerAddress{.burst = 30, .perSecond = 30.0 / 600};
  RateLimit signInPerAccount{.burst = 10, .perSecond = 10.0 / 900};
  /// Uploads (usage batches, crash reports, tester logs) per client address and per account
  /// (the install id when nobody is signed in).
  RateLimit uploadsPerAddress{.burst = 120, .perSecond = 2};
  RateLimit uploadsPerAccount{.burst = 30, .perSecond = 0.5};
  /// A sign-in page must be submitted, and a code exchanged, within these many seconds.
  std::int64_t pageLifetime = 900;
  std::int64_t codeLifetime = 120;
};

/// Body bounds per endpoint, also the HTTP binding's overall limit.
struct BodyLimits {
  static constexpr std::size_t kForm = 8 * 1024;
  static constexpr std::size_t kToken = 8 * 1024;
  static constexpr std::size_t kSyncBlob = 1024 * 1024;
  static constexpr std::size_t kSync = 2 * kSyncBlob + 4096;
  static constexpr std::size_t kUsage = 2 * 1024 * 1024;
  static constexpr std::size_t kCrash = 2 * 1024 * 1024;
  static constexpr std::size_t kTesterLog = 4 * 1024 * 1024;
  static constexpr std::size_t kLargest = kTesterLog;
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
