// One JSON line per request: who, what, how it ended and how long it took; never a body, a
// query or a header value (they may hold secrets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane::server {

struct RequestRecord {
  std::string address;
  std::string method;
  std::string path;
  int status = 0;
  double milliseconds = 0;
  std::size_t bytesIn = 0;
  std::size_t bytesOut = 0;
  /// 0: no account.
  std::int64_t accountId = 0;
  std::string error;
};

/// The record as one line of JSON (no line feed); texts from the client are cut to a bound and
/// invalid UTF-8 replaced, so a line is always valid JSON of bounded length.
std::string requestLogLine(const RequestRecord& record);

/// Seconds since 1970 as "2026-12-07T03:04:05.678Z".
std::string isoTime(double secondsSince1970);

}  // namespace tolvane::server
