// Reply mapping and the hop back to the main thread.
#include "cloud/cloud_reply.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace tolvane {

namespace {

// Deeper nesting than any reply of the service needs; a deeper body is refused before it can
// cost stack or time.
constexpr int kMaxDepth = 32;

bool nestingWithin(const std::string& body, int limit) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : body) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > limit) return false;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return true;
}

CloudReply failed(CloudFailure failure, int status, std::string detail) {
  CloudReply reply;
  reply.failure = failure;
  reply.status = status;
  reply.detail = std::move(detail);
  return reply;
}

}  // namespace

CloudReply readCloudReply(const HttpResponse& response) {
  if (!response.status) return failed(CloudFailure::transport, 0, response.transportError);
  const int status = *response.status;
  if (status == 401) return failed(CloudFailure::unauthorized, status, {});
  if (status == 409) return failed(CloudFailure::conflict, status, {});
  if (status < 200 || status > 299) return failed(CloudFailure::server, status, {});
  if (response.body.size() > kMaxCloudReplyBytes) {
    return failed(CloudFailure::invalid, status, "body too large");
  }
  if (!nestingWithin(response.body, kMaxDepth)) {
    return failed(CloudFailure::invalid, status, "body nested too deeply");
  }
  auto parsed = nlohmann::json::parse(response.body, nullptr, false);
  if (parsed.is_discarded()) return failed(CloudFailure::invalid, status, "body is not JSON");
  if (!parsed.is_object()) return failed(CloudFailure::invalid, status, "body is not an object");
  CloudReply reply;
  reply.failure = CloudFailure::none;
  reply.status = status;
  reply.object = std::make_shared<const nlohmann::json>(std::move(parsed));
  return reply;
}

void sendCloudRequest(HttpClient& http, RunLoop& runLoop, HttpRequest request,
                      std::weak_ptr<void> alive, std::function<void(CloudReply)> done) {
  request.maxReplyBytes = std::min(request.maxReplyBytes, kMaxCloudReplyBytes);
  http.send(std::move(request), [&runLoop, alive = std::move(alive),
                                 done = std::move(done)](HttpResponse response) mutable {
    // Parsed on the worker: a large body never costs the main thread a frame.
    auto reply = std::make_shared<CloudReply>(readCloudReply(response));
    runLoop.postFromAnyThread([alive, done = std::move(done), reply] {
      if (alive.lock()) done(std::move(*reply));
    });
  });
}

std::string describe(const CloudReply& reply) {
  switch (reply.failure) {
    case CloudFailure::none:
      return std::to_string(reply.status);
    case CloudFailure::transport:
      return "no reply (" + reply.detail + ")";
    case CloudFailure::invalid:
      return "invalid (" + reply.detail + ")";
    default:
      return std::to_string(reply.status);
  }
}

}  // namespace tolvane
