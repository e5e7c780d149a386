// The libcurl client against the loopback backend mock: every way of getting no reply.
#include "backends/system/curl_http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "support/mock_backend.h"

namespace tolvane::system {
namespace {

using namespace std::chrono_literals;
using test::MockBackend;
using test::MockReply;

TEST(CurlHttpClientTest, EveryWayOfGettingNoReply) {
  // Declared first so it outlives the client: requests in flight end before the server does.
  MockBackend mock;
  CurlHttpClient client("Tolvane/test");
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
      // A port nobody listens on: a server's, once the server has gone.
      {"refused", {.url = "http://127.0.0.1:" + std::to_string(MockBackend().port()) + "/"}, 0},
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
    auto promise = std::make_shared<std::promise<HttpResponse>>();
    auto replied = promise->get_future();
    // set_value throws on a second call, so a completion that ran twice ends the test program.
    client.send(row.request,
                [promise](HttpResponse reply) { promise->set_value(std::move(reply)); });
    // Bounded only so that a completion that never comes fails instead of hanging.
    ASSERT_EQ(replied.wait_for(10s), std::future_status::ready);
    const HttpResponse response = replied.get();
    EXPECT_EQ(response.status, std::nullopt);
    EXPECT_NE(response.transportError, "");
    EXPECT_EQ(response.body, "");
    EXPECT_EQ(response.transportError.find("timed out") != std::string::npos, row.timesOut);
    EXPECT_EQ(mock.requestCount(), before + row.arrives);
  }
}

}  // namespace
}  // namespace tolvane::system
