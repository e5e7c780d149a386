// The small interface every component uses to report a usage event.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tolvane {

/// One property value of an event. Window titles and application names never go in.
using EventValue = std::variant<bool, std::int64_t, double, std::string>;
using EventProperties = std::vector<std::pair<std::string, EventValue>>;

/// Where components report usage events; the usage reporter is the real one.
class UsageRecorder {
 public:
  virtual ~UsageRecorder() = default;
  /// Records one named event; whether it is kept and sent is the recorder's business.
  virtual void record(const std::string& name, const EventProperties& properties) = 0;
};

}  // namespace tolvane
