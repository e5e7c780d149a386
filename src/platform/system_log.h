// The system's own log, for the few messages that must reach it.
#pragma once

#include <string>

namespace tolvane {

/// The system's own log, for the few messages that must reach it.
class SystemLog {
 public:
  virtual ~SystemLog() = default;
  virtual void write(const std::string& message) = 0;
};

}  // namespace tolvane
