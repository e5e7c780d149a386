// The libcurl client against the loopback backend mock: what arrives, what comes back, every way
// of getting no reply, redirects, concurrency and shutdown.
#include "backends/system/curl_http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string_view>
#include <vector>

#include "model/cloud_config.h"
#include "support/mock_backend.h"

namespace tolvane::system {
namespace {

using namespace std::chrono_literals;
using test::MockBackend;
using test::MockReply;

// Only fires when a completion never comes.
constexpr auto kSafety = 10s;

// A port nobody listens on: a server's, once the server has gone.
std::string unusedPort() {
  return std::to_string(MockBackend().port());
}

void expectNoReply(const HttpResponse& response) {
  EXPECT_EQ(response.status, std::nullopt);
  EXPECT_NE(response.transportError, "");
  EXPECT_EQ(response.body, "");
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

  static HttpResponse await(std::future<HttpResponse> future) {
    if (future.wait_for(kSafety) == std::future_status::ready) return future.get();
    ADD_FAILURE() << "the request never completed";
    return HttpResponse{.transportError = "test: never completed"};
  }

  HttpResponse exchange(HttpRequest request) { return await(send(std::move(request))); }

  // A request with a body, its type and a credential.
  HttpRequest post(const std::string& path, const char* method = "POST") const {
    return {.method = method,
            .url = mock.baseURL() + path,
            .headers = {{"Authorization", "Bearer tok"}, {"Content-Type", "application/json"}},
            .body = "{}"};
  }

  // Declared first so it outlives the client: requests in flight end before the server does.
  MockBackend mock;
  const CloudConfig config{mock.baseURL()};
  std::unique_ptr<CurlHttpClient> client = std::make_unique<CurlHttpClient>("Tolvane/test");
};

TEST_F(CurlHttpClientTest, RequestsArriveExactlyAsGiven) {
  // Every byte value, NUL included, and enough of them that curl would ask "Expect: 100-continue".
  std::string bytes;
  while (bytes.size() < 2 * 1024 * 1024) bytes.push_back(static_cast<char>(bytes.size() % 256));
  const std::optional<HttpRequest> rows[] = {
      // What the cloud clients build, bearer token and JSON type included.
      config.request(CloudEndpoint::me, "GET", "tok", std::nullopt),
      config.request(CloudEndpoint::sync, "PUT", "tok", R"({"v":2})"),
      config.request(CloudEndpoint::crash, "POST", std::nullopt, bytes),
      // An empty body is still a body, and without a type curl must not invent a form one.
      HttpRequest{.method = "POST", .url = mock.baseURL() + "/api/app/logout"},
      // The query and a caller's own User-Agent, verbatim.
      HttpRequest{.url = mock.baseURL() + "/api/me?since=3&x=%2F",
                  .headers = {{"User-Agent", "probe/1"}, {"X-Trace", "a b;c=d"}}},
  };
  for (const auto& request : rows) {
    ASSERT_TRUE(request);
    SCOPED_TRACE(request->url);
    ASSERT_EQ(exchange(*request).status, 200);
    const auto got = mock.requests().back();
    EXPECT_EQ(got.method, request->method);
    EXPECT_EQ(mock.baseURL() + got.path + (got.query.empty() ? "" : "?" + got.query), request->url);
    EXPECT_TRUE(got.body == request->body) << got.body.size() << " bytes arrived";

    // The caller's headers, our User-Agent unless given, what HTTP needs, nothing else.
    std::map<std::string, std::string> expected = request->headers;
    expected.try_emplace("User-Agent", "Tolvane/test");
    if (request->method != "GET") expected["Content-Length"] = std::to_string(request->body.size());
    for (const auto& [name, value] : expected) EXPECT_EQ(got.header(name), value) << name;
    EXPECT_EQ(got.headers.size(), expected.size() + 2);  // Host and Accept
  }
  EXPECT_EQ(mock.requestCount(), std::size(rows));
}

TEST_F(CurlHttpClientTest, EveryStatusComesBackWithItsBody) {
  // Judging the body is the caller's business; a 3xx without a Location is a reply like any other.
  const std::pair<int, const char*> rows[] = {{200, "{not json"},    {204, ""}, {401, "token"},
                                              {404, "no such path"}, {503, ""}, {301, "moved"}};
  for (const auto& [status, body] : rows) {
    SCOPED_TRACE(status);
    mock.reply("/api/improve", MockReply::json(status, body));
    // A body as long as the bound still comes back whole.
    HttpRequest request = post("/api/improve");
    request.maxReplyBytes = std::string_view(body).size();
    const HttpResponse response = exchange(std::move(request));
    EXPECT_EQ(response.status, status) << response.transportError;
    EXPECT_EQ(response.body, body);
  }
}

TEST_F(CurlHttpClientTest, EveryWayOfGettingNoReply) {
  const std::string url = mock.baseURL() + "/api/me";
  mock.reply("/big", MockReply::json(200, std::string(2 * 1024 * 1024, ' ') + "{}"));
  mock.reply("/cut", MockReply{.status = 200, .cutOff = true});
  struct Row {
    const char* name;
    HttpRequest request;
    std::size_t arrives;  // at the server
    bool timesOut = false;
  };
  const Row rows[] = {
      {"refused", {.url = "http://127.0.0.1:" + unusedPort() + "/"}, 0},
      // The mock speaks plain HTTP, so no TLS session can be set up with it.
      {"bad TLS", {.url = "https://127.0.0.1:" + std::to_string(mock.port()) + "/api/me"}, 0},
      // A line break would smuggle a header of the caller's choosing.
      {"line break", {.url = url, .headers = {{"X-Token", "a\r\nX-Admin: 1"}}}, 0},
      {"header name", {.url = url, .headers = {{"Bad Name", "v"}}}, 0},
      {"method", {.method = "GET /x", .url = url}, 0},
      {"scheme", {.url = "ftp://127.0.0.1/file"}, 0},
      // Never held in memory beyond what the caller said it would read.
      {"too large", {.url = mock.baseURL() + "/big", .maxReplyBytes = 1024 * 1024}, 1},
      {"broken off", {.url = mock.baseURL() + "/cut"}, 1},
      // Last: held replies hold every later request too.
      {"timeout", {.url = url, .timeoutSeconds = 0.3}, 1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.timesOut) mock.holdReplies();
    const std::size_t before = mock.requestCount();
    const HttpResponse response = exchange(row.request);
    expectNoReply(response);
    EXPECT_EQ(response.transportError.find("timed out") != std::string::npos, row.timesOut);
    EXPECT_EQ(mock.requestCount(), before + row.arrives);
  }
}

TEST_F(CurlHttpClientTest, RedirectsAreFollowedOnlyWithinTheOrigin) {
  const std::string next = "127.0.0.1:" + std::to_string(mock.port()) + "/api/next";
  struct Row {
    int status;
    const char* method;
    std::string location;
    std::size_t arrivals;  // the first request included
    bool bodyKept;         // by the requests after the first
  };
  const Row rows[] = {
      // 307 and 308 repeat the request as it was; 301, 302 and 303 turn it into a bodiless GET.
      {307, "POST", "http://" + next, 2, true},
      {308, "PUT", "http://" + next, 2, true},
      {301, "POST", "http://" + next, 2, false},
      {303, "POST", "http://" + next, 2, false},
      {302, "PUT", "/api/next", 2, false},
      // Another host, scheme or port is someone else: the redirect comes back unfollowed.
      {307, "POST", "http://localhost:" + std::to_string(mock.port()) + "/api/next", 1, true},
      {307, "POST", "https://" + next, 1, true},
      {307, "POST", "http://127.0.0.1:" + unusedPort() + "/api/next", 1, true},
      // Five hops at most: the sixth reply is handed back.
      {307, "POST", mock.baseURL() + "/api/start", 6, true},
  };
  mock.reply("/api/next", MockReply::json(200, "next"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.location);
    mock.reply("/api/start",
               {.status = row.status, .body = "", .headers = {{"Location", row.location}}});
    const std::size_t before = mock.requestCount();
    const HttpResponse response = exchange(post("/api/start", row.method));
    const bool followed = row.arrivals == 2;
    EXPECT_EQ(response.status, followed ? 200 : row.status) << response.transportError;
    EXPECT_EQ(response.body, followed ? "next" : "");

    // The completion comes only after the last hop, so every request sent has arrived.
    const auto arrived = mock.requests();
    ASSERT_EQ(arrived.size(), before + row.arrivals);
    for (std::size_t i = before + 1; i < arrived.size(); ++i) {
      EXPECT_EQ(arrived[i].method, row.bodyKept ? row.method : "GET");
      EXPECT_EQ(arrived[i].header("Authorization"), "Bearer tok");
      EXPECT_EQ(arrived[i].body, row.bodyKept ? "{}" : "");
      EXPECT_EQ(arrived[i].header("Content-Type").has_value(), row.bodyKept);
    }
  }
}

TEST_F(CurlHttpClientTest, ManyRequestsAreUnderWayAtOnce) {
  // All must reach the server while none is answered: one at a time would never get there.
  constexpr int kCount = 16;
  mock.holdReplies();
  std::vector<std::future<HttpResponse>> futures;
  for (int i = 0; i < kCount; ++i) {
    const std::string path = "/api/n/" + std::to_string(i);
    mock.reply(path, MockReply::json(200, std::to_string(i)));
    futures.push_back(send(post(path)));
  }
  ASSERT_TRUE(mock.waitForRequests(kCount, kSafety));
  mock.releaseReplies();
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(await(std::move(futures[i])).body, std::to_string(i));
}

TEST_F(CurlHttpClientTest, DestructionCompletesRequestsInFlightWithNoReply) {
  mock.holdReplies();
  // What a completion sends while the client is going away must not be lost either.
  CurlHttpClient* const raw = client.get();
  std::promise<HttpResponse> resent;
  raw->send(post("/api/improve"), [&](HttpResponse) {
    raw->send(HttpRequest{.url = mock.baseURL() + "/api/me"},
              [&](HttpResponse response) { resent.set_value(std::move(response)); });
  });
  auto held = send(post("/api/crash"));
  const bool bothArrived = mock.waitForRequests(2, kSafety);
  client.reset();
  ASSERT_TRUE(bothArrived);
  // Completed before the destructor returned, not merely at some later point.
  std::future<HttpResponse> futures[] = {std::move(held), resent.get_future()};
  for (auto& future : futures) {
    ASSERT_EQ(future.wait_for(0s), std::future_status::ready);
    const HttpResponse response = future.get();
    expectNoReply(response);
    EXPECT_EQ(response.transportError, "cancelled");
  }
}

}  // namespace
}  // namespace tolvane::system
