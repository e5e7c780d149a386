// The backend service's endpoint table and request builder: URLs, methods, headers, timeouts,
// the sign-in page address and a base with trailing slashes.
#include "model/cloud_config.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <utility>

namespace tolvane {
namespace {

using Headers = std::map<std::string, std::string>;

TEST(CloudConfig, BaseOverrideIsHttpsOrLoopbackHttpAndNothingMore) {
  // The address given, and the base used; nothing where it is refused.
  const std::pair<std::string, std::optional<std::string>> rows[] = {
      {"https://sync.example.org", "https://sync.example.org"},
      {"HTTPS://sync.example.org:8443/", "https://sync.example.org:8443"},
      {"http://127.10.0.3", "http://127.10.0.3"},
      {"http://localhost:9", "http://localhost:9"},
      {"http://[::1]:8080", "http://[::1]:8080"},
      // Tokens in clear text across a network.
      {"http://sync.example.org", std::nullopt},
      {"http://128.0.0.1", std::nullopt},
      {"http://127.0.0.1.example.org", std::nullopt},
      {"http://localhost@evil.example", std::nullopt},
      {"https://sync.example.org/base", std::nullopt},
      {"https://sync.example.org:0", std::nullopt},
      {"https://sync.example.org:65536", std::nullopt},
      {"https://sync.example.org:", std::nullopt},
      {"ftp://sync.example.org", std::nullopt},
      {"sync.example.org", std::nullopt},
      {"http://[::1", std::nullopt},
      {"https://" + std::string(3000, 'a') + ".org", std::nullopt},
  };
  for (const auto& [given, expected] : rows) {
    std::string error;
    EXPECT_EQ(checkBaseURLOverride(given, error), expected) << given.substr(0, 40);
    EXPECT_EQ(error.empty(), expected.has_value()) << given.substr(0, 40) << ": " << error;
  }
}

TEST(CloudConfig, EachKindOfEndpointBuildsItsRequestAndRefusesOnesItDoesNotTake) {
  const CloudConfig config{"http://127.0.0.1:9"};
  const std::optional<std::string> json = R"({"k":1})", none, tok = "tok", empty = "";
  const Headers typed{{"Content-Type", "application/json"}};
  const Headers bearer{{"Authorization", "Bearer tok"}};
  const Headers both{{"Authorization", "Bearer tok"}, {"Content-Type", "application/json"}};
  struct Row {
    CloudEndpoint endpoint;
    const char* method;
    std::optional<std::string> token, body;
    const char* path;  // null: refused
    Headers headers;
    double timeout;
  };
  const Row rows[] = {
      // Sign-in and account endpoints; the sign-outs are checked by the account test.
      {CloudEndpoint::token, "POST", none, json, "/api/app/token", typed, 60},
      {CloudEndpoint::me, "GET", tok, none, "/api/me", bearer, 60},
      // Settings sync reads and writes the same path; the read is checked by the sync test.
      {CloudEndpoint::sync, "PUT", tok, json, "/api/sync/tolvane", both, 60},
      // Usage events wait less for the service (without a token: the usage reporter's test).
      {CloudEndpoint::improve, "POST", tok, json, "/api/improve", both, 20},
      // Reports never identify the account, even when the caller passes a token.
      {CloudEndpoint::crash, "POST", tok, json, "/api/crash", typed, 60},
      {CloudEndpoint::testlog, "POST", tok, json, "/api/testlog", typed, 60},
      {CloudEndpoint::token, "POST", tok, json, "/api/app/token", typed, 60},
      // Methods outside the table, including a lower-case spelling of an allowed one.
      {CloudEndpoint::me, "POST", tok, none, nullptr, {}, 0},
      {CloudEndpoint::token, "post", none, none, nullptr, {}, 0},
      {CloudEndpoint::crash, "", none, none, nullptr, {}, 0},
      // Endpoints that require a token, asked without one or with an empty one.
      {CloudEndpoint::me, "GET", none, none, nullptr, {}, 0},
      {CloudEndpoint::logout, "POST", empty, none, nullptr, {}, 0},
      {CloudEndpoint::logoutAll, "POST", none, none, nullptr, {}, 0},
      {CloudEndpoint::sync, "PUT", none, none, nullptr, {}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(config.url(row.endpoint) + " " + row.method);
    const auto request = config.request(row.endpoint, row.method, row.token, row.body);
    ASSERT_EQ(request.has_value(), row.path != nullptr);
    if (!request) continue;
    EXPECT_EQ(request->method, row.method);
    EXPECT_EQ(request->url, std::string("http://127.0.0.1:9") + row.path);
    EXPECT_EQ(request->headers, row.headers);
    EXPECT_EQ(request->body, row.body.value_or(""));
    EXPECT_DOUBLE_EQ(request->timeoutSeconds, row.timeout);
  }
}

TEST(CloudConfig, AddressesFollowTheBaseAfterOneSlashAndTheQueryIsEncodedInOrder) {
  // Trailing slashes of the base would otherwise double up before "api/" and "app/".
  for (const auto* given : {"http://127.0.0.1:41234/", "http://127.0.0.1:41234//"}) {
    const CloudConfig config{given};
    EXPECT_EQ(config.baseURL(), "http://127.0.0.1:41234") << given;
    EXPECT_EQ(config.url(CloudEndpoint::crash), "http://127.0.0.1:41234/api/crash") << given;
    EXPECT_EQ(config.connectURL("Ab9-._~", "x_Y-z"),
              "http://127.0.0.1:41234/app/connect?app=tolvane&challenge=Ab9-._~&state=x_Y-z");
  }
  // Everything outside the unreserved set is escaped, bytes of UTF-8 one by one.
  EXPECT_EQ(CloudConfig().connectURL("a+b/c=", "&state=x ?#é"),
            "https://cloud.brenmoor.app/app/connect?app=tolvane&challenge=a%2Bb%2Fc%3D"
            "&state=%26state%3Dx%20%3F%23%C3%A9");
}

}  // namespace
}  // namespace tolvane
