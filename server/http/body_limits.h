// The largest body each endpoint takes, checked by the HTTP layer before a byte of it is kept:
// parsing JSON costs some 40 times the text, so each bound is sized to the endpoint's largest
// legitimate body and no more. The service may read this table too.
#pragma once

#include <cstddef>
#include <string_view>

namespace tolvane::server {

struct EndpointBodyLimit {
  std::string_view method;
  std::string_view path;
  std::size_t bytes;
};

namespace body_limit {
/// The sign-in form and the token exchange: a few short fields.
inline constexpr std::size_t kForm = 8 * 1024;
inline constexpr std::size_t kToken = 8 * 1024;
/// A 1 MiB blob as a JSON string (escaping may double it) and its two small fields.
inline constexpr std::size_t kSync = 2 * 1024 * 1024 + 4096;
/// 200 events of a handful of properties, each string cut to 256 characters: 2.5 KiB per event
/// is several times the largest the application records.
inline constexpr std::size_t kUsage = 512 * 1024;
/// A crash record of at most 64 KiB, grown by escaping into its call-stack tree.
inline constexpr std::size_t kCrash = 2 * 64 * 1024 + 16 * 1024;
/// 700000 characters of log, at most 4 bytes each in UTF-8, and the escapes of its line feeds.
inline constexpr std::size_t kTesterLog = 3 * 1024 * 1024;
/// Any other request: none takes a body.
inline constexpr std::size_t kOther = 8 * 1024;
}  // namespace body_limit

inline constexpr EndpointBodyLimit kEndpointBodyLimits[] = {
    {"POST", "/app/connect", body_limit::kForm},
    {"POST", "/api/app/token", body_limit::kToken},
    {"PUT", "/api/sync/tolvane", body_limit::kSync},
    {"POST", "/api/improve", body_limit::kUsage},
    {"POST", "/api/crash", body_limit::kCrash},
    {"POST", "/api/testlog", body_limit::kTesterLog},
};

/// The bound for a request to `path` (without its query) with `method`.
constexpr std::size_t bodyLimitFor(std::string_view method, std::string_view path) {
  for (const EndpointBodyLimit& e : kEndpointBodyLimits) {
    if (e.method == method && e.path == path) return e.bytes;
  }
  return body_limit::kOther;
}

}  // namespace tolvane::server
