// The HTTP binding's sockets: what the kernel does with bursts of connections and with replies
// written in parts, checked on the sockets themselves rather than by the clock.
#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "http/http_server.h"
#include "support/service_world.h"

namespace tolvane::server::test {
namespace {

// A socket owned by the test.
class Socket {
 public:
  Socket() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
  ~Socket() { close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// How many of `sockets`, connecting at once, finish their handshake within `boundMs`.
int connectedWithin(std::vector<Socket>& sockets, int port, int boundMs) {
  std::vector<pollfd> waiting;
  for (Socket& s : sockets) {
    const sockaddr_in address = loopback(port);
    connect(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    waiting.push_back({s.fd(), POLLOUT, 0});
  }
  int connected = 0;
  for (pollfd& one : waiting) {
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

class HttpServerTest : public ServiceWorld {
 protected:
  HttpServer http{*service, {.host = "127.0.0.1", .port = 0}, [](const std::string&) {}};
};

TEST_F(HttpServerTest, QueuesABurstOfConnectionsAndRepliesWithoutWaitingForAcks) {
  std::string whyNot;
  ASSERT_TRUE(http.bind(whyNot)) << whyNot;
  // Bound but not yet accepting: every handshake of a burst must still complete in the queue.
  // A full queue drops the rest, and they would wait a second for their SYN to go again.
  std::vector<Socket> burst(64);
  EXPECT_EQ(connectedWithin(burst, http.port(), 2000), 64);
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
