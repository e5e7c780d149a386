// What the endpoint files of the service share: its state and the reply helpers. Internal to
// service/.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string_view>

#include "service/service.h"
#include "storage/storage.h"
#include "wire/cloud_bodies.h"

namespace tolvane::server {

using Json = nlohmann::json;
/// A form body's fields by name (see parseForm).
using Form = std::map<std::string, std::string>;

struct Service::Impl {
  Impl(Storage& s, ServiceConfig c, std::function<double()> n);

  Storage& storage;
  ServiceConfig config;
  std::function<double()> now;
  RateLimiter signInByAddress;
  RateLimiter signInByAccount;
  RateLimiter pagesByAddress;
  RateLimiter uploadsByAddress;
  RateLimiter uploadsByAccount;
  RateLimiter uploadBytesByAddress;
  std::mutex purgeLock;
  std::int64_t nextPurge = 0;
  std::int64_t nextUploadPurge = 0;

  std::int64_t seconds() const { return static_cast<std::int64_t>(now()); }
  void purgeNowAndThen();
  /// The account of the request's bearer token, renewing the token. Otherwise `failure`
  /// holds 401 (missing, malformed, unknown, revoked or idle token) or 503.
  std::optional<Account> authenticate(const Request& request, Reply& failure);

  /// Stores the pending sign-in of a page carrying `ticket`, within the bound.
  StoreStatus storePending(const std::string& ticket, const PendingSignIn& pending);

  /// The account of `email` when `password` is its own; `notFound` for an unknown e-mail or
  /// a wrong password alike.
  StoreResult<Account> accountWithPassword(const std::string& email, const std::string& password);
  /// The 303 back to the application with a new code for `account`.
  Reply codeRedirect(const Account& account, const PendingSignIn& pending);

  /// The sign-in form's e-mail, password and action, checked and acted on; `pending` is the
  /// sign-in its ticket named, taken already.
  Reply submitCredentials(const Form& form, const PendingSignIn& pending, const std::string& client,
                          double at);
  Reply signUp(const std::string& email, const std::string& password, const PendingSignIn& pending);
  Reply signIn(const std::string& email, const std::string& password, const PendingSignIn& pending);
  /// The form again, with `message`, under a fresh ticket for the same sign-in.
  Reply formAgain(const PendingSignIn& pending, int status, const std::string& email,
                  const std::string& message, std::string error);

  // Endpoints (sign_in_routes.cpp).
  Reply connectPage(const Request& request);
  Reply connectSubmit(const Request& request);
  Reply token(const Request& request);
  // Endpoints (api_routes.cpp).
  Reply me(const Request& request);
  Reply logout(const Request& request);
  Reply logoutAll(const Request& request);
  Reply syncGet(const Request& request);
  Reply syncPut(const Request& request);
  Reply upload(const Request& request, wire::UploadKind kind);
};

/// The token of an "Authorization: Bearer …" header; "" for any other.
std::string bearerOf(const std::string& authorization);

/// A JSON reply.
Reply jsonReply(int status, const Json& body);
/// A JSON error reply: {"error": code}; `reason` goes to the request log only.
Reply errorReply(int status, std::string_view code, std::string reason = {});
/// 503 for a storage that cannot answer now; `detail` goes to the request log only.
Reply unavailableReply(const std::string& detail);

/// The body parsed as a JSON object. Otherwise `failure` holds the 4xx to answer: 415 for
/// another content type, 413 over `limit` bytes, 400 for text that is not JSON (invalid UTF-8
/// included), nested deeper than the bodies ever are, or not an object.
std::optional<Json> jsonObjectBody(const Request& request, std::size_t limit, Reply& failure);

/// 429 or 503 with Retry-After for a request over its limit.
Reply limitedReply(int status, double retryAfterSeconds, bool html);

}  // namespace tolvane::server
