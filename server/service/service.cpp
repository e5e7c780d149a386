#include "service/service.h"

#include <cmath>

#include "auth/secrets.h"
#include "service/service_impl.h"
#include "wire/cloud_bodies.h"

namespace tolvane::server {

namespace {

// The bodies are at most three levels deep (a crash report's call-stack tree the exception):
// a body nested deeper than this is refused before nlohmann builds it.
constexpr int kMaxNesting = 64;
// Expired pages and codes are swept at most this often, old uploads daily.
constexpr std::int64_t kPurgeEverySeconds = 600;
constexpr std::int64_t kUploadPurgeEverySeconds = 86400;

bool nestsDeeperThan(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

std::string bearerOf(const std::string& authorization) {
  constexpr std::string_view kScheme = "Bearer ";
  if (authorization.size() <= kScheme.size() || !authorization.starts_with(kScheme)) return {};
  return authorization.substr(kScheme.size());
}

Service::Impl::Impl(Storage& s, ServiceConfig c, std::function<double()> n)
    : storage(s),
      config(c),
      now(std::move(n)),
      signInByAddress(c.signInPerAddress),
      signInByAccount(c.signInPerAccount),
      pagesByAddress(c.pagesPerAddress),
      uploadsByAddress(c.uploadsPerAddress),
      uploadsByAccount(c.uploadsPerAccount),
      uploadBytesByAddress(c.uploadBytesPerAddress) {}

void Service::Impl::purgeNowAndThen() {
  const std::int64_t at = seconds();
  bool uploads = false;
  {
    std::lock_guard guard(purgeLock);
    if (at < nextPurge) return;
    nextPurge = at + kPurgeEverySeconds;
    uploads = at >= nextUploadPurge;
    if (uploads) nextUploadPurge = at + kUploadPurgeEverySeconds;
  }
  storage.purgeExpired(at);
  if (uploads) storage.purgeUploads(at - config.keepUploadsSeconds);
}

Reply jsonReply(int status, const Json& body) {
  Reply reply;
  reply.status = status;
  reply.body = wire::dumpBody(body);
  return reply;
}

Reply errorReply(int status, std::string_view code, std::string reason) {
  Reply reply = jsonReply(status, {{"error", code}});
  reply.error = reason.empty() ? std::string(code) : std::move(reason);
  return reply;
}

Reply unavailableReply(const std::string& detail) {
  Reply reply = errorReply(503, "unavailable", "storage: " + detail);
  reply.headers["Retry-After"] = "30";
  return reply;
}

Reply limitedReply(int status, double retryAfterSeconds, bool html) {
  Reply reply = errorReply(status, "rate_limited");
  reply.headers["Retry-After"] =
      std::to_string(static_cast<long>(std::max(1.0, std::ceil(retryAfterSeconds))));
  if (html) {
    reply.contentType = "text/html; charset=utf-8";
    reply.body =
        "<!doctype html><meta charset=utf-8><title>Tolvane</title>"
        "<p>Too many attempts. Wait a few minutes, then start signing in again from Tolvane.";
  }
  return reply;
}

std::optional<Json> jsonObjectBody(const Request& request, std::size_t limit, Reply& failure) {
  const std::string_view type =
      std::string_view(request.contentType).substr(0, request.contentType.find(';'));
  if (type != "application/json") {
    failure = errorReply(415, "unsupported_media_type", "content type");
    return std::nullopt;
  }
  if (request.body.size() > limit) {
    failure = errorReply(413, "too_large", "body " + std::to_string(request.body.size()));
    return std::nullopt;
  }
  if (nestsDeeperThan(request.body, kMaxNesting)) {
    failure = errorReply(400, "invalid_body", "nesting");
    return std::nullopt;
  }
  // The parser checks UTF-8: a body with an invalid byte is not JSON.
  Json body = Json::parse(request.body, nullptr, false);
  if (body.is_discarded()) {
    failure = errorReply(400, "invalid_body", "not JSON");
    return std::nullopt;
  }
  if (!body.is_object()) {
    failure = errorReply(400, "invalid_body", "not an object");
    return std::nullopt;
  }
  return body;
}

std::optional<Account> Service::Impl::authenticate(const Request& request, Reply& failure) {
  const std::string token = bearerOf(request.authorization);
  auto refuse = [&](const char* reason) -> std::optional<Account> {
    failure = errorReply(401, "unauthorized", reason);
    failure.headers["WWW-Authenticate"] = "Bearer";
    return std::nullopt;
  };
  if (token.empty()) return refuse("no bearer token");
  // Ours are 43 characters; anything that is not token-shaped is not looked up.
  if (!isBase64Url(token, 43, 43)) return refuse("malformed token");
  const std::int64_t at = seconds();
  auto found = storage.accountForToken(secretHash(token), at, at - config.tokenIdleSeconds);
  if (found.status == StoreStatus::notFound) return refuse("unknown, revoked or idle token");
  if (!found.ok()) {
    failure = unavailableReply(found.detail);
    return std::nullopt;
  }
  return found.value;
}

Service::Service(Storage& storage, ServiceConfig config, std::function<double()> now)
    : impl_(std::make_unique<Impl>(storage, config, std::move(now))) {}

Service::~Service() = default;

Reply Service::handle(const Request& request) {
  Impl& s = *impl_;
  s.purgeNowAndThen();
  const std::string& m = request.method;
  const std::string& p = request.path;
  if (p == "/app/connect" && m == "GET") return s.connectPage(request);
  if (p == "/app/connect" && m == "POST") return s.connectSubmit(request);
  if (p == "/api/app/token" && m == "POST") return s.token(request);
  if (p == "/api/me" && m == "GET") return s.me(request);
  if (p == "/api/app/logout" && m == "POST") return s.logout(request);
  if (p == "/api/app/logout-all" && m == "POST") return s.logoutAll(request);
  if (p == "/api/sync/tolvane" && m == "GET") return s.syncGet(request);
  if (p == "/api/sync/tolvane" && m == "PUT") return s.syncPut(request);
  if (p == "/api/improve" && m == "POST") return s.upload(request, wire::UploadKind::usage);
  if (p == "/api/crash" && m == "POST") return s.upload(request, wire::UploadKind::crash);
  if (p == "/api/testlog" && m == "POST") return s.upload(request, wire::UploadKind::testlog);
  for (const char* known :
       {"/app/connect", "/api/app/token", "/api/me", "/api/app/logout", "/api/app/logout-all",
        "/api/sync/tolvane", "/api/improve", "/api/crash", "/api/testlog"}) {
    if (p == known) return errorReply(405, "method_not_allowed");
  }
  return errorReply(404, "not_found");
}

}  // namespace tolvane::server
