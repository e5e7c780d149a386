// The libcurl client against the loopback backend mock: what arrives, what comes back, every way
// of getting no reply, redirects, concurrency and shutdown.
#include "platform/system/curl_http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cloud/cloud_config.h"
#include "support/mock_backend.h"

namespace tolvane::system {
namespace {

using namespace std::chrono_literals;
using test::MockBackend;
using test::MockReply;
using test::RecordedRequest;

// Only fires when a completion never comes.
constexpr auto kSafety = 10s;

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A port nobody listens on: bound once to learn a free one, then released.
int unusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

class CurlHttpClientTest : public ::testing::Test {
 protected:
  std::future<HttpResponse> send(HttpRequest request) {
    auto promise = std::make_shared<std::promise<HttpResponse>>();
    std::future<HttpResponse> future = promise->get_future();
    // set_value throws on a second call, so a completion that ran twice ends the test program.
    client->send(std::move(request),
                 [promise](HttpResponse response) { promise->set_value(std::move(response)); });
    return future;
  }

  static HttpResponse await(std::future<HttpResponse>& future) {
    if (future.wait_for(kSafety) != std::future_status::ready) {
      ADD_FAILURE() << "the request never completed";
      return HttpResponse{.transportError = "test: never completed"};
    }
    return future.get();
  }

  HttpResponse exchange(HttpRequest request) {
    auto future = send(std::move(request));
    return await(future);
  }

  HttpRequest post(const std::string& path, std::string body) const {
    return HttpRequest{.method = "POST",
                       .url = mock.baseURL() + path,
                       .headers = {{"Content-Type", "application/json"}},
                       .body = std::move(body)};
  }

  // Declared first so it outlives the client: requests in flight end before the server does.
  MockBackend mock;
  const CloudConfig config{mock.baseURL()};
  std::unique_ptr<CurlHttpClient> client = std::make_unique<CurlHttpClient>("Tolvane/test");
};

TEST_F(CurlHttpClientTest, RequestsArriveExactlyAsGiven) {
  std::string binary;
  for (int byte = 0; byte < 256; ++byte) binary.push_back(static_cast<char>(byte));
  // Past curl's threshold for asking "Expect: 100-continue" before sending a body.
  const std::string large(2 * 1024 * 1024, 'x');
  struct Row {
    const char* name;
    std::optional<HttpRequest> request;
    const char* path;
    const char* query;
  };
  const Row rows[] = {
      // What the cloud clients build, bearer token and JSON type included.
      {"get", config.request(CloudEndpoint::me, "GET", "tok", std::nullopt), "/api/me", ""},
      {"post", config.request(CloudEndpoint::improve, "POST", "tok", R"({"events":[1]})"),
       "/api/improve", ""},
      {"put", config.request(CloudEndpoint::sync, "PUT", "tok", R"({"v":2})"), "/api/sync/tolvane",
       ""},
      // Bodies are bytes, not C strings: NUL, CR and LF arrive too.
      {"binary", config.request(CloudEndpoint::crash, "POST", std::nullopt, binary), "/api/crash",
       ""},
      {"large", config.request(CloudEndpoint::testlog, "POST", std::nullopt, large), "/api/testlog",
       ""},
      // An empty body is still a body, and without a type curl must not invent a form one.
      {"empty", HttpRequest{.method = "POST", .url = mock.baseURL() + "/api/app/logout"},
       "/api/app/logout", ""},
      // The query and a caller's own User-Agent, verbatim. (Headers with an empty value cannot
      // be checked here: cpp-httplib discards them on arrival.)
      {"query",
       HttpRequest{.url = mock.baseURL() + "/api/me?since=3&x=%2F",
                   .headers = {{"User-Agent", "probe/1"}, {"X-Trace", "a b;c=d"}}},
       "/api/me", "since=3&x=%2F"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(row.request);
    const HttpRequest& request = *row.request;
    const std::size_t before = mock.requestCount();
    const HttpResponse response = exchange(request);
    ASSERT_EQ(response.status, 200) << response.transportError;
    const std::vector<RecordedRequest> arrived = mock.requests();
    ASSERT_EQ(arrived.size(), before + 1);
    const RecordedRequest& got = arrived.back();
    EXPECT_EQ(got.method, request.method);
    EXPECT_EQ(got.path, row.path);
    EXPECT_EQ(got.query, row.query);
    EXPECT_TRUE(got.body == request.body) << got.body.size() << " bytes arrived";

    std::set<std::string> expectedNames{"host", "accept", "user-agent"};
    if (request.method != "GET") expectedNames.insert("content-length");
    for (const auto& [name, value] : request.headers) {
      expectedNames.insert(lowerCase(name));
      EXPECT_EQ(got.header(name), value) << name;
    }
    std::set<std::string> names;
    for (const auto& header : got.headers) names.insert(lowerCase(header.first));
    EXPECT_EQ(names, expectedNames);
    if (!request.headers.contains("User-Agent")) {
      EXPECT_EQ(got.header("User-Agent"), "Tolvane/test");
    }
  }
}

TEST_F(CurlHttpClientTest, EveryStatusComesBackWithItsBody) {
  const MockReply rows[] = {
      MockReply::json(200, R"({"ok":true})"),
      // Whatever the body is, judging it is the caller's business.
      MockReply::json(200, R"([1,2])"),
      MockReply::json(200, "{not json"),
      MockReply::json(204, ""),
      MockReply::json(401, R"({"error":"token"})"),
      MockReply::text(404, "no such path"),
      MockReply::json(409, R"({"version":7})"),
      MockReply::text(500, "boom"),
      MockReply::json(503, ""),
      // A 3xx that is not followed (no Location) is a reply like any other.
      MockReply::text(301, "moved, but where"),
  };
  for (const MockReply& row : rows) {
    SCOPED_TRACE(row.status);
    mock.reply("/api/improve", row);
    const HttpResponse response = exchange(post("/api/improve", "{}"));
    EXPECT_EQ(response.status, row.status) << response.transportError;
    EXPECT_EQ(response.body, row.body);
    EXPECT_EQ(response.transportError, "");
  }
}

void expectNoReply(const HttpResponse& response) {
  EXPECT_EQ(response.status, std::nullopt);
  EXPECT_NE(response.transportError, "");
  EXPECT_EQ(response.body, "");
}

TEST_F(CurlHttpClientTest, ARefusedConnectionIsNoReply) {
  const int port = unusedPort();
  ASSERT_GT(port, 0);
  expectNoReply(exchange(HttpRequest{.url = "http://127.0.0.1:" + std::to_string(port) + "/"}));
}

TEST_F(CurlHttpClientTest, AConnectionClosedWithoutAReplyIsNoReply) {
  // Scripted for one path: the first attempt is dropped, the next one answered.
  mock.script("/api/improve", {MockReply::dropped(), MockReply::json(200, R"({"n":2})")});
  expectNoReply(exchange(post("/api/improve", "{}")));
  const HttpResponse retried = exchange(post("/api/improve", "{}"));
  EXPECT_EQ(retried.status, 200);
  EXPECT_EQ(retried.body, R"({"n":2})");

  // Switched on for everything, scripts notwithstanding.
  mock.dropConnections();
  expectNoReply(exchange(post("/api/improve", "{}")));
  EXPECT_EQ(mock.requestCount(), 3u);
}

TEST_F(CurlHttpClientTest, AFailedTlsHandshakeIsNoReply) {
  // The mock speaks plain HTTP, so no TLS session can be set up with it.
  const std::string url = "https://127.0.0.1:" + std::to_string(mock.port()) + "/api/me";
  expectNoReply(exchange(HttpRequest{.url = url}));
  EXPECT_EQ(mock.requestCount(), 0u);
}

TEST_F(CurlHttpClientTest, AReplySlowerThanTheTimeoutIsNoReply) {
  mock.holdReplies();
  HttpRequest request = post("/api/improve", "{}");
  request.timeoutSeconds = 0.3;
  const HttpResponse response = exchange(request);
  expectNoReply(response);
  EXPECT_NE(response.transportError.find("timed out"), std::string::npos)
      << response.transportError;
}

TEST_F(CurlHttpClientTest, RedirectsAreFollowedOnlyWithinTheOrigin) {
  const std::string origin = "http://127.0.0.1:%PORT%";
  struct Row {
    const char* name;
    const char* method;
    MockReply redirect;
    // Methods of the requests that arrive, first one included.
    std::vector<const char*> arrived;
    // Whether the later requests still carry the body and its type.
    bool bodyKept;
    // 200 when the redirect was followed to "/api/next", else the redirect's own status.
    int finalStatus;
  };
  const std::vector<Row> rows = {
      // 307 and 308 repeat the request as it was.
      {"307", "POST", MockReply::redirect(307, origin + "/api/next"), {"POST", "POST"}, true, 200},
      {"308", "PUT", MockReply::redirect(308, origin + "/api/next"), {"PUT", "PUT"}, true, 200},
      // 301, 302 and 303 turn it into a GET without a body.
      {"301", "POST", MockReply::redirect(301, origin + "/api/next"), {"POST", "GET"}, false, 200},
      {"303", "POST", MockReply::redirect(303, origin + "/api/next"), {"POST", "GET"}, false, 200},
      {"relative", "PUT", MockReply::redirect(302, "/api/next"), {"PUT", "GET"}, false, 200},
      // Another host, scheme or port is someone else: the redirect comes back unfollowed.
      {"host",
       "POST",
       MockReply::redirect(307, "http://localhost:%PORT%/api/next"),
       {"POST"},
       true,
       307},
      {"scheme",
       "POST",
       MockReply::redirect(307, "https://127.0.0.1:%PORT%/api/next"),
       {"POST"},
       true,
       307},
      {"port",
       "POST",
       MockReply::redirect(307, "http://127.0.0.1:%UNUSED%/api/next"),
       {"POST"},
       true,
       307},
      // Five hops at most: the sixth reply is handed back.
      {"loop",
       "POST",
       MockReply::redirect(307, origin + "/api/start"),
       {"POST", "POST", "POST", "POST", "POST", "POST"},
       true,
       307},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MockBackend server;
    const std::string port = std::to_string(server.port());
    MockReply redirect = row.redirect;
    std::string& location = redirect.headers.at(0).second;
    for (const auto& [placeholder, value] : {std::pair<std::string, std::string>{"%PORT%", port},
                                             {"%UNUSED%", std::to_string(unusedPort())}}) {
      if (const auto at = location.find(placeholder); at != std::string::npos) {
        location.replace(at, placeholder.size(), value);
      }
    }
    server.reply("/api/start", redirect);
    server.reply("/api/next", MockReply::json(200, R"({"at":"next"})"));

    const std::string body = R"({"k":"v"})";
    const HttpResponse response = exchange(HttpRequest{
        .method = row.method,
        .url = server.baseURL() + "/api/start",
        .headers = {{"Authorization", "Bearer tok"}, {"Content-Type", "application/json"}},
        .body = body});
    EXPECT_EQ(response.status, row.finalStatus) << response.transportError;
    if (row.finalStatus == 200) {
      EXPECT_EQ(response.body, R"({"at":"next"})");
    }

    // The completion comes only after the last hop, so every request that was sent has arrived.
    const std::vector<RecordedRequest> arrived = server.requests();
    ASSERT_EQ(arrived.size(), row.arrived.size());
    for (std::size_t i = 1; i < arrived.size(); ++i) {
      EXPECT_EQ(arrived[i].method, row.arrived[i]);
      EXPECT_EQ(arrived[i].header("Authorization"), "Bearer tok");
      EXPECT_EQ(arrived[i].body, row.bodyKept ? body : "");
      EXPECT_EQ(arrived[i].header("Content-Type").has_value(), row.bodyKept);
    }
  }
}

TEST_F(CurlHttpClientTest, ManyRequestsAreUnderWayAtOnce) {
  // Every request must reach the server while none has been answered yet: a client that ran
  // them one after another would leave the wait below to its safety timeout.
  constexpr int kCount = 16;
  mock.holdReplies();
  std::vector<std::future<HttpResponse>> futures;
  for (int i = 0; i < kCount; ++i) {
    const std::string path = "/api/n/" + std::to_string(i);
    mock.reply(path, MockReply::json(200, std::to_string(i)));
    futures.push_back(send(post(path, std::to_string(i))));
  }
  ASSERT_TRUE(mock.waitForRequests(kCount, kSafety));
  mock.releaseReplies();
  for (int i = 0; i < kCount; ++i) {
    const HttpResponse response = await(futures[i]);
    EXPECT_EQ(response.status, 200) << i << ": " << response.transportError;
    EXPECT_EQ(response.body, std::to_string(i));
  }
}

TEST_F(CurlHttpClientTest, DestructionCompletesRequestsInFlightWithNoReply) {
  mock.holdReplies();
  // A completion that sends again while the client is going away: that request must not be
  // lost either.
  CurlHttpClient* const raw = client.get();
  std::promise<HttpResponse> retried;
  raw->send(post("/api/improve", "{}"), [&](HttpResponse) {
    raw->send(HttpRequest{.url = mock.baseURL() + "/api/me"},
              [&](HttpResponse response) { retried.set_value(std::move(response)); });
  });
  auto held = send(post("/api/crash", "{}"));
  const bool bothArrived = mock.waitForRequests(2, kSafety);
  client.reset();
  ASSERT_TRUE(bothArrived);
  // Completed before the destructor returned, not merely at some later point.
  ASSERT_EQ(held.wait_for(0s), std::future_status::ready);
  const HttpResponse response = held.get();
  expectNoReply(response);
  EXPECT_EQ(response.transportError, "cancelled");
  auto retry = retried.get_future();
  ASSERT_EQ(retry.wait_for(0s), std::future_status::ready);
  EXPECT_EQ(retry.get().transportError, "cancelled");
}

TEST_F(CurlHttpClientTest, MalformedRequestsFailWithoutReachingTheNetwork) {
  const HttpRequest rows[] = {
      // A line break would smuggle a header of the caller's choosing.
      {.url = mock.baseURL() + "/api/me", .headers = {{"X-Token", "a\r\nX-Admin: 1"}}},
      {.url = mock.baseURL() + "/api/me", .headers = {{"Bad Name", "v"}}},
      {.method = "GET /x", .url = mock.baseURL() + "/api/me"},
      {.url = "ftp://127.0.0.1/file"},
  };
  for (const HttpRequest& row : rows) {
    expectNoReply(exchange(row));
  }
  EXPECT_EQ(mock.requestCount(), 0u);
}

TEST(MockBackend, StopsWhileRepliesAreHeldAndRightAfterStarting) {
  { MockBackend idle; }
  std::promise<HttpResponse> done;
  auto server = std::make_unique<MockBackend>();
  CurlHttpClient client("Tolvane/test");
  server->holdReplies();
  client.send(HttpRequest{.url = server->baseURL() + "/api/me"},
              [&](HttpResponse response) { done.set_value(std::move(response)); });
  ASSERT_TRUE(server->waitForRequests(1, kSafety));
  // Stopping answers the held request rather than abandoning it.
  server.reset();
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(kSafety), std::future_status::ready);
  EXPECT_EQ(future.get().status, 200);
}

}  // namespace
}  // namespace tolvane::system
