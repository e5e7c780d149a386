// What the HTTP layer takes from a request line and headers for the service: the decoded path
// and query, and the client's address.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace tolvane::server {

struct RequestTarget {
  /// Percent-decoded, without the query.
  std::string path;
  /// Decoded items ('+' as a space), the first of each name.
  std::map<std::string, std::string> query;
};

RequestTarget splitTarget(std::string_view target);

/// The peer, or behind a proxy the last address the proxy put into "X-Forwarded-For" when it
/// looks like one (anything else is not trusted into the logs and limits).
std::string clientAddress(const std::string& peer, std::string_view forwardedFor, bool behindProxy);

}  // namespace tolvane::server
