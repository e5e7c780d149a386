// The system's clocks.
#pragma once

#include "base/clock.h"

namespace tolvane::system {

class RealClock final : public Clock {
 public:
  double now() const override;
  std::uint64_t uptimeNanoseconds() const override;
  double wallSeconds() const override;
  bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, double deadline,
                 const std::function<bool()>& ready) const override;
};

}  // namespace tolvane::system
