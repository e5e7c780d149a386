// Passwords hashed with Argon2id (libargon2); the encoded hash carries its own salt and cost,
// so the cost can be raised later without invalidating stored hashes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::server {

/// Argon2id cost. The default follows current guidance for interactive sign-in (19 MiB, two
/// passes); tests lower it so a sanitizer build is not dominated by hashing.
struct PasswordCost {
  std::uint32_t memoryKiB = 19 * 1024;
  std::uint32_t passes = 2;
  std::uint32_t lanes = 1;
};

/// The encoded hash ("$argon2id$v=19$m=…"); nothing when hashing or the random salt fails.
std::optional<std::string> hashPassword(std::string_view password, const PasswordCost& cost);

/// True when `password` matches `encoded`. A malformed hash matches nothing.
bool verifyPassword(const std::string& encoded, std::string_view password);

/// A hash of a password nobody knows, made once with `cost`: checked against when an e-mail is
/// unknown, so that a wrong address takes as long as a wrong password.
const std::string& decoyHash(const PasswordCost& cost);

}  // namespace tolvane::server
