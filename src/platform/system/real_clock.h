// The system's clocks.
#pragma once

#include "platform/clock.h"

namespace tolvane::system {

class RealClock final : public Clock {
 public:
  double now() const override;
  std::uint64_t uptimeNanoseconds() const override;
  double wallSeconds() const override;
};

}  // namespace tolvane::system
