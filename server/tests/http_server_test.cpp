// The HTTP binding: requests no honest client sends, refused before they cost more than their
// bounds.
#include <httplib.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <tuple>

#include "http/body_limits.h"
#include "http/http_server.h"
#include "support/raw_client.h"
#include "support/service_world.h"

namespace tolvane::server::test {
namespace {

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

// A chunked body of exactly `bytes` bytes, ended.
std::string chunked(std::size_t bytes) {
  std::string body;
  for (std::size_t left = bytes, chunk; left > 0; left -= chunk) {
    chunk = std::min<std::size_t>(left, 64 * 1024);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", chunk);
    body += size + std::string(chunk, ' ') + "\r\n";
  }
  return body + "0\r\n\r\n";
}

using HttpServerTest = ServiceWorld;

TEST_F(HttpServerTest, RefusesHostileRequestsBeforeTheyCostMoreThanTheirBoundsAndKeepsServing) {
  HttpServer http{*service, {.host = "127.0.0.1", .port = 0}, [](const std::string&) {}};
  std::string whyNot;
  ASSERT_TRUE(http.bind(whyNot)) << whyNot;
  std::thread serving([&] { http.run(); });
  const std::string upload =
      "POST /api/crash HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n";
  std::string manyHeaders = "GET /api/me HTTP/1.1\r\n";
  for (int i = 0; i < 100; ++i) manyHeaders += "X-" + std::to_string(i) + ": 1\r\n";
  // The request's head, its body, and the answer's status line.
  std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      // Compressed bodies would be unpacked past every bound: refused unread.
      {upload + "Content-Encoding: gzip\r\nContent-Length: 20\r\n\r\n", std::string(20, 'z'),
       "HTTP/1.1 415 Unsupported Media Type"},
      // A chunked body is refused once it passes the endpoint's bound, though it goes on.
      {upload + "Transfer-Encoding: chunked\r\n\r\n", chunked(8 << 20),
       "HTTP/1.1 413 Payload Too Large"},
      // Headers bounded in count and in bytes.
      {manyHeaders + "\r\n", "", "HTTP/1.1 431 Request Header Fields Too Large"},
      {"GET /api/me HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n", "",
       "HTTP/1.1 431 Request Header Fields Too Large"},
      // A large body asked for politely is awaited (curl asks above 1 MiB).
      {"PUT /api/sync/tolvane HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2000000\r\n\r\n",
       "", "HTTP/1.1 100 Continue"},
  };
  // Past each endpoint's bound, announced by its length, is refused before a byte of the body;
  // a body of exactly the bound, by its length or in chunks, reaches the service, which finds
  // spaces no JSON and no form (or, for the sync, asks for an account first).
  for (const EndpointBodyLimit& e : kEndpointBodyLimits) {
    const std::string head = std::string(e.method) + " " + std::string(e.path) +
                             " HTTP/1.1\r\nContent-Type: application/json\r\n";
    const std::string taken =
        e.path == "/api/sync/tolvane" ? "HTTP/1.1 401 Unauthorized" : "HTTP/1.1 400 Bad Request";
    const auto length = [&](std::size_t bytes) {
      return head + "Content-Length: " + std::to_string(bytes) + "\r\n\r\n";
    };
    cases.push_back({length(e.bytes + 1), "", "HTTP/1.1 413 Payload Too Large"});
    cases.push_back({length(e.bytes), std::string(e.bytes, ' '), taken});
    cases.push_back({head + "Transfer-Encoding: chunked\r\n\r\n", chunked(e.bytes), taken});
  }
  httplib::Client client("127.0.0.1", http.port());
  for (const auto& [head, body, statusLine] : cases) {
    EXPECT_EQ(statusLineFor(http.port(), head, body), statusLine) << head.substr(0, 80);
    const auto reply = client.Get("/api/me");
    EXPECT_TRUE(reply && reply->status == 401) << "still serving after " << head.substr(0, 80);
  }
  http.stop();
  serving.join();
}

}  // namespace
}  // namespace tolvane::server::test
