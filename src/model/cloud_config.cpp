// The endpoint table as data and the request builder behind every call to the backend service.
#include "model/cloud_config.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace tolvane {

namespace {

// Indexed by CloudEndpoint; the static_assert below keeps the two in step.
constexpr std::array<CloudEndpointTraits, 8> kEndpoints{{
    {"app/token", {"POST", ""}, BearerToken::never, 60},
    {"me", {"GET", ""}, BearerToken::required, 60},
    {"app/logout", {"POST", ""}, BearerToken::required, 60},
    {"app/logout-all", {"POST", ""}, BearerToken::required, 60},
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

constexpr std::size_t kMaxBaseURLLength = 2048;

bool isHostCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
}

bool isDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// 127.0.0.0/8 as a dotted quad of decimal octets.
bool isLoopbackIPv4(std::string_view host) {
  int octets = 0;
  bool first = true;
  while (!host.empty()) {
    const auto dot = host.find('.');
    const auto part = host.substr(0, dot);
    if (!isDigits(part) || part.size() > 3 || std::stoi(std::string(part)) > 255) return false;
    if (first && part != "127") return false;
    first = false;
    ++octets;
    if (dot == std::string_view::npos) break;
    host.remove_prefix(dot + 1);
    if (host.empty()) return false;
  }
  return octets == 4;
}

bool isLoopbackHost(std::string_view host) {
  std::string lower(host);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower == "localhost" || lower == "[::1]" || isLoopbackIPv4(lower);
}

// Nothing when `authority` is a plain host (name, IPv4 or bracketed IPv6) with an optional
// port; otherwise why not. `host` receives the host part.
std::optional<std::string> authorityProblem(std::string_view authority, std::string_view& host) {
  if (authority.empty()) return "it names no host";
  if (authority.find('@') != std::string_view::npos) return "it carries user information";
  std::string_view port;
  if (authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return "its IPv6 address is not closed";
    host = authority.substr(0, close + 1);
    const auto inner = host.substr(1, host.size() - 2);
    if (inner.empty() || !std::all_of(inner.begin(), inner.end(), [](char c) {
          return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        })) {
      return "its IPv6 address is malformed";
    }
    const auto rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return "its host is malformed";
    if (!rest.empty()) port = rest.substr(1);
    if (!rest.empty() && port.empty()) return "its port is empty";
  } else {
    const auto colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
      if (port.empty()) return "its port is empty";
    }
    if (host.empty() || !std::all_of(host.begin(), host.end(), isHostCharacter) ||
        host.front() == '.' || host.front() == '-') {
      return "its host is malformed";
    }
  }
  if (!port.empty() && (!isDigits(port) || port.size() > 5 || std::stoi(std::string(port)) == 0 ||
                        std::stoi(std::string(port)) > 65535)) {
    return "its port is not a number from 1 to 65535";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> checkBaseURLOverride(std::string_view url, std::string& error) {
  const auto refuse = [&](std::string why) -> std::optional<std::string> {
    error = "the service address is not usable: " + why;
    return std::nullopt;
  };
  if (url.size() > kMaxBaseURLLength) return refuse("it is too long");
  if (std::any_of(url.begin(), url.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F;
      })) {
    return refuse("it contains spaces, control or non-ASCII characters");
  }
  const auto separator = url.find("://");
  if (separator == std::string_view::npos) return refuse("it has no http:// or https:// scheme");
  std::string scheme(url.substr(0, separator));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (scheme != "http" && scheme != "https") {
    return refuse("its scheme is neither http nor https");
  }
  auto rest = url.substr(separator + 3);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find_first_of("/?#") != std::string_view::npos) {
    return refuse("it has a path, a query or a fragment; give the scheme and host alone");
  }
  std::string_view host;
  if (auto problem = authorityProblem(rest, host)) return refuse(*problem);
  if (scheme == "http" && !isLoopbackHost(host)) {
    return refuse(
        "http:// is accepted only for this machine (localhost, 127.0.0.1, [::1]); "
        "use https://");
  }
  return scheme + "://" + std::string(rest);
}

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
