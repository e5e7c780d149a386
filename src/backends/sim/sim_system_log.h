// A system log for tests: keeps the lines instead of sending them anywhere.
#pragma once

#include <string>
#include <vector>

#include "platform/system_log.h"

namespace tolvane::sim {

/// Records every message written, in order.
class SimSystemLog final : public SystemLog {
 public:
  std::vector<std::string> lines;

  void write(const std::string& message) override { lines.push_back(message); }
};

}  // namespace tolvane::sim
