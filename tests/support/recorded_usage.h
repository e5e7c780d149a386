// A usage recorder that keeps every event for assertions.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "model/usage_recorder.h"

namespace tolvane::test {

class RecordedUsage final : public UsageRecorder {
 public:
  struct Event {
    std::string name;
    std::map<std::string, EventValue> properties;
  };
  void record(const std::string& name, const EventProperties& properties) override {
    events.push_back({name, {properties.begin(), properties.end()}});
  }
  std::vector<Event> events;
};

}  // namespace tolvane::test
