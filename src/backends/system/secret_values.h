// Limits every secret store holds accounts and values to, and the account name as it may be
// logged.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::system {

/// Longest account name a store accepts, in bytes; ours are a dozen.
inline constexpr std::size_t kMaxSecretAccountBytes = 256;
/// Longest value a store accepts, in bytes; a bearer token is well under a kilobyte.
inline constexpr std::size_t kMaxSecretValueBytes = 64 * 1024;

/// Why `account` cannot name a secret (empty, too long, not UTF-8); nothing when it can.
std::optional<std::string> accountProblem(std::string_view account);
/// Why `value` cannot be stored (too long, not UTF-8); nothing when it can. Values are text:
/// both the keyring's items and the fallback file's JSON hold UTF-8 only.
std::optional<std::string> valueProblem(std::string_view value);

/// The first of accountProblem and valueProblem that applies; nothing when the pair may be stored.
std::optional<std::string> entryProblem(std::string_view account, std::string_view value);

/// `account` cut and escaped so that it stays one short line in the diagnostic log.
std::string printableAccount(std::string_view account);

}  // namespace tolvane::system
