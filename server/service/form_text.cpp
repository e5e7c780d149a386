#include "service/form_text.h"

#include <cstdint>

namespace tolvane::server {

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace,
                                         MalformedEscape malformed) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+' && plusIsSpace) {
      out += ' ';
    } else if (c == '%') {
      const int high = i + 2 < text.size() ? hexDigitValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hexDigitValue(text[i + 2]) : -1;
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
      } else if (malformed == MalformedEscape::refuse) {
        return std::nullopt;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
  return out;
}

std::string percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    std::uint32_t point = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, point = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and points past U+10FFFF.
    if ((extra == 2 && point < 0x800) || (extra == 3 && (point < 0x10000 || point > 0x10FFFF)) ||
        (point >= 0xD800 && point <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

std::optional<std::map<std::string, std::string>> parseForm(std::string_view body) {
  std::map<std::string, std::string> fields;
  while (!body.empty()) {
    const std::size_t end = body.find('&');
    const std::string_view pair = body.substr(0, end);
    body = end == std::string_view::npos ? std::string_view{} : body.substr(end + 1);
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    auto name = percentDecode(pair.substr(0, equals), true);
    auto value = equals == std::string_view::npos ? std::optional<std::string>("")
                                                  : percentDecode(pair.substr(equals + 1), true);
    if (!name || !value || !isValidUtf8(*name) || !isValidUtf8(*value)) return std::nullopt;
    fields.emplace(std::move(*name), std::move(*value));
  }
  return fields;
}

std::optional<std::string> normalisedEmail(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.size() < 3 || text.size() > 254 || !isValidUtf8(text)) return std::nullopt;
  const std::size_t at = text.find('@');
  if (at == 0 || at == std::string_view::npos || at + 1 == text.size() ||
      text.find('@', at + 1) != std::string_view::npos)
    return std::nullopt;
  std::string email;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '<' || c == '>' || c == '"') return std::nullopt;
    email += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return email;
}

}  // namespace tolvane::server
