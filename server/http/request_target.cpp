#include "http/request_target.h"

#include "service/form_text.h"

namespace tolvane::server {

namespace {

std::string percentDecoded(std::string_view text, bool plusIsSpace) {
  return *percentDecode(text, plusIsSpace, MalformedEscape::keep);
}

bool isAddressText(std::string_view text) {
  if (text.empty() || text.size() > 45) return false;
  for (const char c : text) {
    if (hexDigitValue(c) < 0 && c != '.' && c != ':') return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

RequestTarget splitTarget(std::string_view target) {
  RequestTarget out;
  const std::size_t mark = target.find('?');
  out.path = percentDecoded(target.substr(0, mark), false);
  if (mark == std::string_view::npos) return out;
  std::string_view rest = target.substr(mark + 1);
  while (!rest.empty()) {
    const std::size_t amp = rest.find('&');
    const std::string_view item = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (item.empty()) continue;
    const std::size_t equals = item.find('=');
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    out.query.emplace(percentDecoded(item.substr(0, equals), true), percentDecoded(value, true));
  }
  return out;
}

std::string clientAddress(const std::string& peer, std::string_view forwardedFor,
                          bool behindProxy) {
  if (!behindProxy) return peer;
  const std::size_t comma = forwardedFor.rfind(',');
  const std::string_view last =
      trimmed(comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1));
  return isAddressText(last) ? std::string(last) : peer;
}

}  // namespace tolvane::server
