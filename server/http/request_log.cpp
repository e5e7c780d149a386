#include "http/request_log.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

namespace tolvane::server {

namespace {

constexpr std::size_t kMaxTextBytes = 200;

std::string bounded(const std::string& text) {
  return text.size() <= kMaxTextBytes ? text : text.substr(0, kMaxTextBytes) + "…";
}

}  // namespace

std::string isoTime(double secondsSince1970) {
  const auto whole = static_cast<std::time_t>(std::floor(secondsSince1970));
  const int millis = static_cast<int>((secondsSince1970 - double(whole)) * 1000);
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char out[48];
  std::snprintf(out, sizeof out, "%s.%03dZ", text, millis);
  return out;
}

std::string requestLogLine(const RequestRecord& r) {
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  nlohmann::json line = {
      {"time", isoTime(now)},
      {"addr", bounded(r.address)},
      {"method", bounded(r.method)},
      {"path", bounded(r.path)},
      {"status", r.status},
      {"ms", std::round(r.milliseconds * 100) / 100},
      {"in", r.bytesIn},
      {"out", r.bytesOut},
  };
  if (r.accountId) line["account"] = r.accountId;
  if (!r.error.empty()) line["error"] = bounded(r.error);
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tolvane::server
