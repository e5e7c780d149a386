// The loopback backend mock on cpp-httplib: recording, scripted replies and held replies.
#include "support/mock_backend.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace tolvane::test {
namespace {

// Enough server threads that every request a test holds at once still finds one to arrive on.
constexpr std::size_t kServerThreads = 32;

// cpp-httplib listens with a backlog of 5. Connections beyond it wait for the client to retry,
// a second later, which a test that opens many at once would notice; the subclass reaches the
// listening socket to widen the backlog.
class Server : public httplib::Server {
 public:
  bool widenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (::strcasecmp(key.c_str(), std::string(name).c_str()) == 0) return value;
  }
  return std::nullopt;
}

MockReply MockReply::json(int status, std::string body) {
  return MockReply{.status = status, .body = std::move(body)};
}

struct MockBackend::State {
  Server server;
  int port = -1;
  std::promise<void> listening;
  std::thread listener;

  mutable std::mutex mutex;
  mutable std::condition_variable arrived;
  std::condition_variable released;
  std::vector<RecordedRequest> requests;
  std::map<std::string, MockReply> replies;
  bool holding = false;
  bool stopping = false;

  void handle(const httplib::Request& request, httplib::Response& response);
};

void MockBackend::State::handle(const httplib::Request& request, httplib::Response& response) {
  const std::string path = request.target.substr(0, request.target.find('?'));
  MockReply reply;
  {
    std::unique_lock lock(mutex);
    requests.push_back({.method = request.method,
                        .path = path,
                        .headers = {request.headers.begin(), request.headers.end()},
                        .body = request.body});
    arrived.notify_all();
    released.wait(lock, [&] { return !holding || stopping; });
    if (const auto fixed = replies.find(path); fixed != replies.end()) reply = fixed->second;
  }
  response.status = reply.status;
  if (reply.cutOff) {
    // A provider that gives up before its first chunk: cpp-httplib has sent the headers and
    // closes the connection without the terminating chunk.
    response.set_chunked_content_provider("application/json",
                                          [](std::size_t, httplib::DataSink&) { return false; });
    return;
  }
  response.set_content(reply.body, "application/json");
}

MockBackend::MockBackend() : state_(std::make_unique<State>()) {
  State& state = *state_;
  // One request per connection: the server never waits on an idle connection, so it stops at
  // once.
  state.server.set_keep_alive_max_count(1);
  // Only a client that is not speaking HTTP (a TLS handshake) leaves a request unfinished; this
  // bounds how long it keeps a server thread.
  state.server.set_read_timeout(1);
  const auto handler = [&state](const httplib::Request& request, httplib::Response& response) {
    state.handle(request, response);
  };
  const std::string anyPath = ".*";
  state.server.Get(anyPath, handler)
      .Post(anyPath, handler)
      .Put(anyPath, handler)
      .Delete(anyPath, handler);

  state.port = state.server.bind_to_any_port("127.0.0.1");
  if (state.port < 0 || !state.server.widenBacklog()) {
    state.port = -1;
    return;
  }
  std::future<void> listening = state.listening.get_future();
  state.server.new_task_queue = [&state] {
    // The server marks itself running before it asks for its threads; from here on, stop()
    // ends the listen loop rather than being ignored.
    state.listening.set_value();
    return new httplib::ThreadPool(kServerThreads);
  };
  state.listener = std::thread([&state] {
    // The library writes a held reply to a client that gave up anyway, which raises SIGPIPE and
    // would end the test program. Server threads inherit the signal mask of the thread that
    // starts them, which is this listening thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    state.server.listen_after_bind();
  });
  listening.wait();
}

MockBackend::~MockBackend() {
  State& state = *state_;
  {
    std::lock_guard lock(state.mutex);
    state.stopping = true;
  }
  state.released.notify_all();
  if (state.listener.joinable()) {
    state.server.stop();
    state.listener.join();
  }
}

int MockBackend::port() const {
  return state_->port;
}

std::string MockBackend::baseURL() const {
  return "http://127.0.0.1:" + std::to_string(state_->port);
}

void MockBackend::reply(const std::string& path, MockReply reply) {
  std::lock_guard lock(state_->mutex);
  state_->replies[path] = std::move(reply);
}

void MockBackend::holdReplies() {
  std::lock_guard lock(state_->mutex);
  state_->holding = true;
}

void MockBackend::releaseReplies() {
  std::lock_guard lock(state_->mutex);
  state_->holding = false;
  state_->released.notify_all();
}

std::vector<RecordedRequest> MockBackend::requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

std::size_t MockBackend::requestCount() const {
  return requests().size();
}

bool MockBackend::waitForRequests(std::size_t count, std::chrono::milliseconds safety) const {
  std::unique_lock lock(state_->mutex);
  return state_->arrived.wait_for(lock, safety, [&] { return state_->requests.size() >= count; });
}

}  // namespace tolvane::test
