// Key-down events aimed at this application's own windows.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/event_tap.h"

namespace tolvane {

using MonitorToken = std::uint64_t;

/// Key-down events aimed at this application's own windows, seen before the focused control.
class LocalKeyMonitor {
 public:
  /// Returns true to swallow the event.
  using Handler = std::function<bool(const KeyEvent&)>;
  virtual ~LocalKeyMonitor() = default;
  virtual MonitorToken addKeyDownMonitor(Handler handler) = 0;
  virtual void removeMonitor(MonitorToken token) = 0;
};

}  // namespace tolvane
