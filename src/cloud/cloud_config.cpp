// The endpoint table as data and the request builder behind every call to the backend service.
#include "cloud/cloud_config.h"

#include <utility>

namespace tolvane {

namespace {

// Indexed by CloudEndpoint; the static_assert below keeps the two in step.
constexpr std::array<CloudEndpointTraits, 7> kEndpoints{{
    {"app/token", {"POST", ""}, BearerToken::never, 60},
    {"me", {"GET", ""}, BearerToken::required, 60},
    {"app/logout", {"POST", ""}, BearerToken::required, 60},
    {"sync/tolvane", {"GET", "PUT"}, BearerToken::required, 60},
    {"improve", {"POST", ""}, BearerToken::whenSignedIn, 20},
    {"crash", {"POST", ""}, BearerToken::never, 60},
    {"testlog", {"POST", ""}, BearerToken::never, 60},
}};
static_assert(kEndpoints.size() == static_cast<std::size_t>(CloudEndpoint::testlog) + 1);

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

bool CloudEndpointTraits::allows(std::string_view method) const {
  for (const auto allowed : methods) {
    if (!allowed.empty() && allowed == method) return true;
  }
  return false;
}

const CloudEndpointTraits& traitsOf(CloudEndpoint endpoint) {
  return kEndpoints[static_cast<std::size_t>(endpoint)];
}

std::string percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isUnreserved(byte)) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

CloudConfig::CloudConfig(std::string baseURL) : baseURL_(std::move(baseURL)) {
  while (!baseURL_.empty() && baseURL_.back() == '/') baseURL_.pop_back();
}

std::string CloudConfig::url(CloudEndpoint endpoint) const {
  return baseURL_ + "/api/" + std::string(traitsOf(endpoint).path);
}

std::string CloudConfig::connectURL(std::string_view challenge, std::string_view state) const {
  return baseURL_ + "/app/connect?app=" + std::string(kAppName) +
         "&challenge=" + percentEncode(challenge) + "&state=" + percentEncode(state);
}

std::optional<HttpRequest> CloudConfig::request(CloudEndpoint endpoint, std::string method,
                                                std::optional<std::string> bearerToken,
                                                std::optional<std::string> jsonBody) const {
  const CloudEndpointTraits& traits = traitsOf(endpoint);
  if (!traits.allows(method)) return std::nullopt;
  // An empty stored token is no credential: a bare "Bearer " header can only be refused.
  if (bearerToken && bearerToken->empty()) bearerToken.reset();
  if (traits.bearer == BearerToken::required && !bearerToken) return std::nullopt;

  HttpRequest request;
  request.method = std::move(method);
  request.url = url(endpoint);
  request.timeoutSeconds = traits.timeoutSeconds;
  if (jsonBody) {
    request.headers["Content-Type"] = "application/json";
    request.body = std::move(*jsonBody);
  }
  if (bearerToken && traits.bearer != BearerToken::never) {
    request.headers["Authorization"] = "Bearer " + *bearerToken;
  }
  return request;
}

}  // namespace tolvane
