// How every cloud client reads the service's replies: one mapping from an HTTP reply to a JSON
// object or the kind of failure, and one way to get it back to the main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "base/run_loop.h"
#include "platform/http_client.h"

namespace tolvane {

/// Why a request to the service did not yield a JSON object.
enum class CloudFailure {
  none,
  /// 401: the token is no longer valid.
  unauthorized,
  /// 409: the request was based on something outdated.
  conflict,
  /// Any other status outside 200–299.
  server,
  /// A 2xx reply whose body is not a JSON object (empty, an array, malformed, too deep).
  invalid,
  /// No reply at all: refused, reset, timed out, too large.
  transport,
};

/// A reply as the cloud clients see it.
struct CloudReply {
  CloudFailure failure = CloudFailure::transport;
  /// The HTTP status; 0 when there was no reply.
  int status = 0;
  /// The reply's JSON object when `failure` is none; null otherwise.
  std::shared_ptr<const nlohmann::json> object;
  /// For the diagnostic log: the transport error, or what was wrong with the body. Never the
  /// body itself, which may hold secrets.
  std::string detail;

  bool ok() const { return failure == CloudFailure::none; }
};

/// Replies to cloud requests are small; anything longer is not read at all.
inline constexpr std::size_t kMaxCloudReplyBytes = 1024 * 1024;

/// 401 → unauthorized, 409 → conflict, 2xx with a JSON object → none, other 2xx → invalid,
/// any other status → server, no status → transport.
CloudReply readCloudReply(const HttpResponse& response);

/// Sends `request` (its reply limit lowered to kMaxCloudReplyBytes) and calls `done` with the
/// read reply on the main thread, unless `alive` has expired by then: a component that is
/// destroyed while a request is in flight is never called back.
void sendCloudRequest(HttpClient& http, RunLoop& runLoop, HttpRequest request,
                      std::weak_ptr<void> alive, std::function<void(CloudReply)> done);

/// A short text for the log: "401", "409", "500", "invalid (…)", "no reply (…)".
std::string describe(const CloudReply& reply);

}  // namespace tolvane
