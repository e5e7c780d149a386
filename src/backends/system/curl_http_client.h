// HTTP on libcurl: every request of the application runs on one worker thread that drives all
// transfers at once, so a slow server never holds up another request.
#pragma once

#include <memory>
#include <string>

#include "platform/http_client.h"

namespace tolvane::system {

/// HttpClient on libcurl (HTTP and HTTPS only, certificates always verified).
///
/// Requests go out as given: method, URL, headers and body byte for byte; curl adds only Host,
/// Accept, User-Agent (unless the request names one) and Content-Length. GET and HEAD never
/// carry a body. `timeoutSeconds` bounds the whole exchange, redirects included; 0 or less means
/// "fail at once", never "no limit". Same-origin redirects (301, 302, 303, 307, 308) are
/// followed up to 5 times; any other redirect comes back as the 3xx reply itself.
///
/// Completions run on the worker thread, one at a time: they must hop to their own thread before
/// touching state, must not block for long (they hold up every other transfer) and must not
/// destroy this client. They may call send().
class CurlHttpClient final : public HttpClient {
 public:
  /// Starts the worker. `userAgent` (e.g. "Tolvane/0.1.0") is sent unless a request names its
  /// own "User-Agent".
  explicit CurlHttpClient(std::string userAgent);
  /// Stops the worker. Requests still in flight complete with no reply and the transport error
  /// "cancelled" before this returns; no completion runs afterwards.
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  /// Thread-safe; returns at once. `completion` runs exactly once.
  void send(HttpRequest request, Completion completion) override;

 private:
  class Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace tolvane::system
