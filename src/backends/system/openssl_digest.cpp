// SHA-256 through OpenSSL's one-shot EVP digest.
#include "backends/system/openssl_digest.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace tolvane::system {

std::array<std::uint8_t, 32> OpenSslDigest::sha256(std::string_view bytes) const {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  // EVP_Digest fails only when the library cannot allocate or has no SHA-256 at all; a
  // challenge built from a zero digest would silently break every sign-in, so stop instead.
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    std::abort();
  }
  return digest;
}

}  // namespace tolvane::system
