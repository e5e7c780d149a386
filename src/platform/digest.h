// Message digests from the system's cryptography library.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tolvane {

/// Message digests from the system's cryptography library; never hand-written.
class Digest {
 public:
  virtual ~Digest() = default;
  virtual std::array<std::uint8_t, 32> sha256(std::string_view bytes) const = 0;
};

}  // namespace tolvane
