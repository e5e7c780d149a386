// The simulated machine: fixed facts and a seeded random source.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/random_source.h"
#include "platform/system_info.h"

namespace tolvane::sim {

class SimSystemInfo final : public SystemInfo {
 public:
  std::map<std::string, std::string> env;
  std::string os = "Debian GNU/Linux 12";
  std::string arch = "x86_64";
  std::string locale = "en_US";

  std::optional<std::string> environment(const std::string& name) const override {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  }
  std::string osVersion() const override { return os; }
  std::string architecture() const override { return arch; }
  std::string localeIdentifier() const override { return locale; }
};

/// Deterministic randomness. `forced` values, when queued, are returned by `uniform` first (a
/// test can force a sampled event); after them a fixed-seed generator takes over.
class SimRandom final : public RandomSource {
 public:
  std::vector<std::uint64_t> forced;

  std::uint64_t uniform(std::uint64_t upperBound) override {
    if (!forced.empty()) {
      const auto value = forced.front();
      forced.erase(forced.begin());
      return upperBound == 0 ? 0 : value % upperBound;
    }
    return upperBound == 0 ? 0 : next() % upperBound;
  }
  std::vector<std::uint8_t> secureBytes(std::size_t count) override {
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(next());
    return bytes;
  }

 private:
  // xorshift64*: enough for tests, and the same sequence on every run.
  std::uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

}  // namespace tolvane::sim
