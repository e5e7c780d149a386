// A loopback stand-in for the backend service: a reply per path, replies held until the test
// releases them, and a record of every request.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane::test {

/// One request as it arrived.
struct RecordedRequest {
  std::string method;
  /// The path as sent (still percent-encoded), without the query.
  std::string path;
  /// Every header as cpp-httplib received it, which discards those whose value is empty and adds
  /// the connection's addresses (REMOTE_ADDR and the like).
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  /// The value of the first header called `name` in any case; nothing when there is none.
  std::optional<std::string> header(std::string_view name) const;
};

/// One scripted answer.
struct MockReply {
  int status = 200;
  std::string body = "{}";
  /// The connection closes after the status line and headers, before any of the body: the
  /// client sees the reply broken off, as by a reset.
  bool cutOff = false;

  /// `status` with a JSON body (object, array or malformed: sent as given).
  static MockReply json(int status, std::string body);
};

/// An HTTP server on 127.0.0.1 at a free port, answering from its own threads.
///
/// Each request is recorded on arrival, then waits while replies are held, then gets its reply:
/// the one set for its path, else 200 with "{}".
class MockBackend {
 public:
  /// Listening when this returns; port() is -1 when no port could be bound.
  MockBackend();
  /// Releases held replies and stops the server.
  ~MockBackend();
  MockBackend(const MockBackend&) = delete;
  MockBackend& operator=(const MockBackend&) = delete;

  int port() const;
  /// "http://127.0.0.1:<port>".
  std::string baseURL() const;

  /// Every later request to `path` gets `reply`.
  void reply(const std::string& path, MockReply reply);

  /// From now on requests are recorded but not answered until releaseReplies().
  void holdReplies();
  /// Answers the held requests and every later one at once.
  void releaseReplies();

  /// Every request so far, in arrival order.
  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  /// Waits until at least `count` requests have arrived; false when `safety` passes first.
  bool waitForRequests(std::size_t count,
                       std::chrono::milliseconds safety = std::chrono::seconds(10)) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tolvane::test
