// Where the backend service lives and how every request to it is shaped: the endpoint table,
// the browser sign-in address and the one request builder all cloud clients share.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http_client.h"
#include "wire/cloud_bodies.h"

namespace tolvane {

/// The service's API endpoints, each a path below "<base>/api/".
enum class CloudEndpoint { token, me, logout, logoutAll, sync, improve, crash, testlog };

/// Whether a request to an endpoint carries the account's bearer token.
enum class BearerToken {
  /// Never sent, even when the caller has one.
  never,
  /// The request is meaningless without one.
  required,
  /// Sent when the user is signed in, omitted otherwise.
  whenSignedIn,
};

/// One row of the endpoint table.
struct CloudEndpointTraits {
  /// Path below "api/", without a leading slash.
  std::string_view path;
  /// Allowed HTTP methods; unused slots are empty.
  std::array<std::string_view, 2> methods;
  BearerToken bearer;
  double timeoutSeconds;

  /// True when `method` (upper case, as sent) is one of `methods`.
  bool allows(std::string_view method) const;
};

/// The table row of `endpoint`.
const CloudEndpointTraits& traitsOf(CloudEndpoint endpoint);

/// The base address of the service and the requests built against it. The production base is
/// a constant; tests and the scenario tool construct one pointing at a loopback mock server.
class CloudConfig {
 public:
  /// Scheme and host, no path.
  static constexpr std::string_view kDefaultBaseURL = "https://cloud.brenmoor.app";
  /// How the service knows this application, in the sign-in page's query and in upload bodies.
  static constexpr std::string_view kAppName = wire::kAppName;

  CloudConfig() : CloudConfig(std::string(kDefaultBaseURL)) {}
  /// Trailing slashes of `baseURL` are dropped so paths can be appended with one slash.
  explicit CloudConfig(std::string baseURL);

  const std::string& baseURL() const { return baseURL_; }

  /// "<base>/api/<path>".
  std::string url(CloudEndpoint endpoint) const;

  /// The browser sign-in page: "<base>/app/connect?app=tolvane&challenge=…&state=…", each value
  /// percent-encoded so only RFC 3986 unreserved characters remain literal.
  std::string connectURL(std::string_view challenge, std::string_view state) const;

  /// The request every cloud client sends: the endpoint's URL and timeout, "Content-Type" =
  /// "application/json" when there is a body, and "Authorization" = "Bearer <token>" when a
  /// token is given and the endpoint carries one. Nothing when the endpoint does not allow
  /// `method`, or when it requires a token and none (or an empty one) is given.
  std::optional<HttpRequest> request(CloudEndpoint endpoint, std::string method,
                                     std::optional<std::string> bearerToken,
                                     std::optional<std::string> jsonBody) const;

 private:
  std::string baseURL_;
};

/// A base URL given at run time (environment or command line) to point Tolvane at another
/// service: "https://host[:port]", or "http://" for a loopback host alone (localhost, 127.0.0.0/8,
/// [::1]), so that tokens never cross a network in clear text. A trailing "/" is allowed; user
/// information, a path, a query or a fragment are not. Returns the base without the trailing
/// slash and with the scheme in lower case; nothing, with the reason in `error`, otherwise.
std::optional<std::string> checkBaseURLOverride(std::string_view url, std::string& error);

/// `text` with every byte outside RFC 3986's unreserved set written as "%XX" (upper-case hex).
std::string percentEncode(std::string_view text);

}  // namespace tolvane
