// SHA-256 from OpenSSL: the digest behind the sign-in's PKCE challenge.
#pragma once

#include "platform/digest.h"

namespace tolvane::system {

class OpenSslDigest final : public Digest {
 public:
  std::array<std::uint8_t, 32> sha256(std::string_view bytes) const override;
};

}  // namespace tolvane::system
