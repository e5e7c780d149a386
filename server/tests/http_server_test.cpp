// The HTTP binding's sockets: what the kernel does with bursts of connections and with replies
// written in parts, checked on the sockets themselves rather than by the clock; and requests no
// honest client sends, refused before they cost more than their bounds.
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <filesystem>
#include <thread>

#include "http/body_limits.h"
#include "http/http_server.h"
#include "support/raw_client.h"
#include "support/service_world.h"

namespace tolvane::server::test {
namespace {

// How many of `sockets`, connecting at once, finish their handshake within `boundMs`.
int connectedWithin(const std::vector<std::unique_ptr<RawClient>>& sockets, int boundMs) {
  int connected = 0;
  for (const auto& s : sockets) {
    pollfd one{s->fd(), POLLOUT, 0};
    if (poll(&one, 1, boundMs) == 1 && (one.revents & POLLOUT)) {
      int error = 0;
      socklen_t size = sizeof error;
      getsockopt(one.fd, SOL_SOCKET, SO_ERROR, &error, &size);
      connected += error == 0;
      boundMs = 0;  // the first bound covers all: the others had as long
    }
  }
  return connected;
}

// The Nagle setting of every socket of this process that serves `port` to a client (not the
// listening one).
std::vector<int> noDelayOfServingSockets(int port) {
  std::vector<int> settings;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    sockaddr_in local{};
    socklen_t size = sizeof local;
    int listening = 0;
    socklen_t flagSize = sizeof listening;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
        local.sin_family != AF_INET || ntohs(local.sin_port) != port ||
        getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &flagSize) != 0 || listening)
      continue;
    int noDelay = 0;
    flagSize = sizeof noDelay;
    getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &flagSize);
    settings.push_back(noDelay != 0);
  }
  return settings;
}

// Sends `head` and then `body` (up to where the server stops taking it) and returns the first
// line of the answer, "" when the server closed without one.
std::string statusLineFor(int port, const std::string& head, const std::string& body) {
  RawClient client(port);
  client.send(head);
  // Once the answer is there, the rest of the body is not wanted.
  for (std::size_t sent = 0; sent < body.size(); sent += 65536) {
    pollfd answer{client.fd(), POLLIN, 0};
    if (poll(&answer, 1, 0) == 1 || !client.send(body.substr(sent, 65536))) break;
  }
  const std::string reply = client.read("\r\n");
  return reply.substr(0, reply.find("\r\n"));
}

std::string chunked(std::size_t bytes) {
  std::string body;
  for (std::size_t chunk = 64 * 1024; body.size() < bytes;)
    body += "10000\r\n" + std::string(chunk, ' ') + "\r\n";
  return body;
}

class HttpServerTest : public ServiceWorld {
 protected:
  HttpServer http{*service, {.host = "127.0.0.1", .port = 0}, [](const std::string&) {}};
};

TEST_F(HttpServerTest, RefusesHostileRequestsBeforeTheyCostMoreThanTheirBoundsAndKeepsServing) {
  std::string whyNot;
  ASSERT_TRUE(http.bind(whyNot)) << whyNot;
  std::thread serving([&] { http.run(); });
  const std::string upload =
      "POST /api/crash HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n";
  std::string manyHeaders = "GET /api/me HTTP/1.1\r\n";
  for (int i = 0; i < 100; ++i) manyHeaders += "X-" + std::to_string(i) + ": 1\r\n";
  struct Case {
    std::string head, body, statusLine;
  };
  std::vector<Case> cases = {
      // Compressed bodies would be unpacked past every bound: refused unread.
      {upload + "Content-Encoding: gzip\r\nContent-Length: 20\r\n\r\n", std::string(20, 'z'),
       "HTTP/1.1 415 Unsupported Media Type"},
      {upload + "Content-Encoding: deflate\r\nContent-Length: 20\r\n\r\n", std::string(20, 'z'),
       "HTTP/1.1 415 Unsupported Media Type"},
      // A chunked body is refused once it passes the endpoint's bound, though it goes on.
      {upload + "Transfer-Encoding: chunked\r\n\r\n", chunked(8 << 20),
       "HTTP/1.1 413 Payload Too Large"},
      // Headers bounded in count and in bytes.
      {manyHeaders + "\r\n", "", "HTTP/1.1 431 Request Header Fields Too Large"},
      {"GET /api/me HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n", "",
       "HTTP/1.1 431 Request Header Fields Too Large"},
      {"GET /api/me HTTP/1.1\r\nNo colon here\r\n\r\n", "", "HTTP/1.1 400 Bad Request"},
      // A large body asked for politely is awaited (curl asks above 1 MiB).
      {"PUT /api/sync/tolvane HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2000000\r\n\r\n",
       "", "HTTP/1.1 100 Continue"},
  };
  // Each endpoint's bound, announced by its length, is refused before a byte of the body.
  for (const EndpointBodyLimit& e : kEndpointBodyLimits)
    cases.push_back({std::string(e.method) + " " + std::string(e.path) +
                         " HTTP/1.1\r\nContent-Length: " + std::to_string(e.bytes + 1) + "\r\n\r\n",
                     "", "HTTP/1.1 413 Payload Too Large"});
  httplib::Client client("127.0.0.1", http.port());
  for (const Case& c : cases) {
    EXPECT_EQ(statusLineFor(http.port(), c.head, c.body), c.statusLine) << c.head.substr(0, 80);
    const auto reply = client.Get("/api/me");
    EXPECT_TRUE(reply && reply->status == 401) << "still serving after " << c.head.substr(0, 80);
  }
  http.stop();
  serving.join();
}

TEST_F(HttpServerTest, QueuesABurstOfConnectionsAndRepliesWithoutWaitingForAcks) {
  std::string whyNot;
  ASSERT_TRUE(http.bind(whyNot)) << whyNot;
  // Bound but not yet accepting: every handshake of a burst must still complete in the queue.
  // A full queue drops the rest, and they would wait a second for their SYN to go again.
  std::vector<std::unique_ptr<RawClient>> burst;
  for (int i = 0; i < 64; ++i)
    burst.push_back(std::make_unique<RawClient>(http.port(), nullptr, SOCK_NONBLOCK));
  EXPECT_EQ(connectedWithin(burst, 2000), 64);
  burst.clear();

  std::thread serving([&] { http.run(); });
  {
    // Closed by its destructor: Client::stop() locks inside the compiled library and unlocks in
    // its header, which ThreadSanitizer (not seeing the library) reports as a foreign unlock.
    httplib::Client client("127.0.0.1", http.port());
    client.set_keep_alive(true);
    const auto reply = client.Get("/api/me");
    EXPECT_TRUE(reply && reply->status == 401);
    // The kept-alive connection's server side sends each reply's parts at once.
    const std::vector<int> noDelay = noDelayOfServingSockets(http.port());
    EXPECT_FALSE(noDelay.empty());
    EXPECT_EQ(std::count(noDelay.begin(), noDelay.end(), 0), 0);
  }
  http.stop();
  serving.join();
}

}  // namespace
}  // namespace tolvane::server::test
