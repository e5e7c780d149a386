// The source of randomness: uniform integers for sampling, secure bytes for secrets and ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolvane {

/// Randomness: uniform integers for sampling, and secure bytes for secrets.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  /// Uniform in [0, upperBound); upperBound must be positive.
  virtual std::uint64_t uniform(std::uint64_t upperBound) = 0;
  virtual std::vector<std::uint8_t> secureBytes(std::size_t count) = 0;
};

}  // namespace tolvane
