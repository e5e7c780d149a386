// Validation shared by the keyring store and the fallback file.
#include "backends/system/secret_values.h"

#include "base/utf8.h"

namespace tolvane::system {

std::optional<std::string> accountProblem(std::string_view account) {
  if (account.empty()) return "empty account";
  if (account.size() > kMaxSecretAccountBytes) {
    return "account longer than " + std::to_string(kMaxSecretAccountBytes) + " bytes";
  }
  if (!isWellFormedUtf8(account)) return "account not UTF-8";
  return std::nullopt;
}

std::optional<std::string> valueProblem(std::string_view value) {
  if (value.size() > kMaxSecretValueBytes) {
    return "value longer than " + std::to_string(kMaxSecretValueBytes) + " bytes";
  }
  if (!isWellFormedUtf8(value)) return "value not UTF-8";
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
