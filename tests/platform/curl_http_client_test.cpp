// The libcurl client against the loopback backend mock: what arrives, and every way of getting no
// reply.
#include "backends/system/curl_http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

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
      {"method", {.method = "GET /x", .url = url}, 0},
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

}  // namespace
}  // namespace tolvane::system
