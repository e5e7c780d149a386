#include "auth/passwords.h"

#include <argon2.h>
#include <openssl/rand.h>

#include <array>
#include <mutex>
#include <vector>

namespace tolvane::server {

namespace {

constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;

}  // namespace

std::optional<std::string> hashPassword(std::string_view password, const PasswordCost& cost) {
  std::array<unsigned char, kSaltBytes> salt{};
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) return std::nullopt;
  const std::size_t length =
      argon2_encodedlen(cost.passes, cost.memoryKiB, cost.lanes, kSaltBytes, kHashBytes, Argon2_id);
  std::vector<char> encoded(length);
  const int result = argon2id_hash_encoded(cost.passes, cost.memoryKiB, cost.lanes, password.data(),
                                           password.size(), salt.data(), salt.size(), kHashBytes,
                                           encoded.data(), length);
  if (result != ARGON2_OK) return std::nullopt;
  return std::string(encoded.data());
}

bool verifyPassword(const std::string& encoded, std::string_view password) {
  if (!encoded.starts_with("$argon2id$")) return false;
  return argon2id_verify(encoded.c_str(), password.data(), password.size()) == ARGON2_OK;
}

const std::string& decoyHash(const PasswordCost& cost) {
  static std::once_flag once;
  static std::string decoy;
  std::call_once(once, [&] {
    std::array<unsigned char, 32> unknowable{};
    RAND_bytes(unknowable.data(), static_cast<int>(unknowable.size()));
    decoy = hashPassword(std::string_view(reinterpret_cast<const char*>(unknowable.data()),
                                          unknowable.size()),
                         cost)
                .value_or("");
  });
  return decoy;
}

}  // namespace tolvane::server
