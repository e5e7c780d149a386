// A random source whose secure bytes a test chooses: known inputs, or fewer bytes than asked.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "backends/sim/sim_system.h"

namespace tolvane::test {

/// Each secureBytes call returns the next scripted answer as it is (whatever was asked); once
/// the script is used up, the seeded simulated source answers.
class ScriptedRandom final : public RandomSource {
 public:
  std::deque<std::vector<std::uint8_t>> script;

  std::uint64_t uniform(std::uint64_t upperBound) override { return fallback_.uniform(upperBound); }
  std::vector<std::uint8_t> secureBytes(std::size_t count) override {
    if (script.empty()) return fallback_.secureBytes(count);
    auto next = std::move(script.front());
    script.pop_front();
    return next;
  }

 private:
  sim::SimRandom fallback_;
};

}  // namespace tolvane::test
