// Parsing the sign-in callback URL.
#include "cloud/callback_url.h"

#include "cloud/pkce.h"

namespace tolvane {

namespace {

bool isControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

bool isSchemeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '-' || c == '.';
}

bool isBase64URLCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "+" stays "+": the callback is a URL query, not a form body.
std::optional<std::string> percentDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    const auto byte = static_cast<unsigned char>(high * 16 + low);
    if (isControl(byte)) return std::nullopt;
    decoded += static_cast<char>(byte);
    i += 2;
  }
  return decoded;
}

bool isAuthCode(std::string_view code) {
  if (code.empty() || code.size() > kMaxAuthCodeBytes) return false;
  for (const char c : code) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) return false;
  }
  return true;
}

bool isState(std::string_view state) {
  if (state.size() != kStateCharacters) return false;
  for (const char c : state) {
    if (!isBase64URLCharacter(c)) return false;
  }
  return true;
}

CallbackParse refused(std::string_view reason) {
  return {std::nullopt, reason};
}

// The part after "<scheme>://", or nothing when the URL does not start that way.
std::optional<std::string_view> afterScheme(std::string_view url) {
  const auto colon = url.find("://");
  if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
  for (const char c : url.substr(0, colon)) {
    if (!isSchemeCharacter(c)) return std::nullopt;
  }
  return url.substr(colon + 3);
}

}  // namespace

CallbackParse parseAuthCallback(std::string_view url) {
  if (url.size() > kMaxCallbackURLBytes) return refused("too-long");
  for (const char c : url) {
    if (isControl(static_cast<unsigned char>(c))) return refused("control-character");
  }
  auto rest = afterScheme(url);
  if (!rest) return refused("not-a-url");
  rest = rest->substr(0, rest->find('#'));
  const auto queryStart = rest->find('?');
  const std::string_view location = rest->substr(0, queryStart);
  if (location != "auth" && location != "auth/") return refused("host");
  if (queryStart == std::string_view::npos) return refused("code");

  // The first item of each name decides, even when it has no value; a later one never does.
  std::optional<std::optional<std::string>> code;
  std::optional<std::optional<std::string>> state;
  std::string_view query = rest->substr(queryStart + 1);
  while (true) {
    const auto end = query.find('&');
    const std::string_view item = query.substr(0, end);
    const auto equals = item.find('=');
    const auto name = percentDecoded(item.substr(0, equals));
    // An item without "=" has no value at all, which is not the same as an empty one.
    const auto value = equals == std::string_view::npos ? std::optional<std::string>()
                                                        : percentDecoded(item.substr(equals + 1));
    if (!name || (equals != std::string_view::npos && !value)) return refused("escape");
    if (*name == "code" && !code) code = value;
    if (*name == "state" && !state) state = value;
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  if (!code || !*code || !isAuthCode(**code)) return refused("code");
  if (!state || !*state || !isState(**state)) return refused("state");
  return {AuthCallback{std::move(**code), std::move(**state)}, {}};
}

bool sameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Volatile, so the compiler cannot stop at the first difference it sees.
  volatile unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace tolvane
