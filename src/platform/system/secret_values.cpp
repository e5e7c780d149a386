// Validation shared by the keyring store and the fallback file.
#include "platform/system/secret_values.h"

namespace tolvane::system {

namespace {

// The length of the UTF-8 sequence that starts at `text[i]`, or 0 when none starts there
// (stray continuation bytes, overlong forms, surrogates, code points past U+10FFFF).
std::size_t sequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = i + 2; k < i + length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  }
  return length;
}

bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::optional<std::string> accountProblem(std::string_view account) {
  if (account.empty()) return "empty account";
  if (account.size() > kMaxSecretAccountBytes) {
    return "account longer than " + std::to_string(kMaxSecretAccountBytes) + " bytes";
  }
  if (!isUtf8(account)) return "account not UTF-8";
  return std::nullopt;
}

std::optional<std::string> valueProblem(std::string_view value) {
  if (value.size() > kMaxSecretValueBytes) {
    return "value longer than " + std::to_string(kMaxSecretValueBytes) + " bytes";
  }
  if (!isUtf8(value)) return "value not UTF-8";
  return std::nullopt;
}

std::optional<std::string> entryProblem(std::string_view account, std::string_view value) {
  if (auto problem = accountProblem(account)) return problem;
  return valueProblem(value);
}

std::string printableAccount(std::string_view account) {
  constexpr std::size_t kMaxShownBytes = 64;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : account.substr(0, kMaxShownBytes)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '\\' || c == ' ' || c == '=') {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  if (account.size() > kMaxShownBytes) out += "...";
  return out;
}

}  // namespace tolvane::system
