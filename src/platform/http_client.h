// HTTP requests to the service and the update feed, answered on a worker thread.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tolvane {

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  /// Header name → value, sent as given.
  std::map<std::string, std::string> headers;
  std::string body;
  double timeoutSeconds = 60;
  /// A longer reply is abandoned and reported as no reply at all.
  std::size_t maxReplyBytes = 4 * 1024 * 1024;
};

/// A reply; no status means no reply at all (refused, reset, timed out, bad certificate).
struct HttpResponse {
  std::optional<int> status;
  std::string body;
  /// Why there was no reply, for the diagnostic log.
  std::string transportError;
};

class HttpClient {
 public:
  /// Runs on a worker thread: hop to the main thread before touching application state.
  using Completion = std::function<void(HttpResponse)>;
  virtual ~HttpClient() = default;
  virtual void send(HttpRequest request, Completion completion) = 0;
};

}  // namespace tolvane
