// The instance socket on Qt's event loop: each descriptor the instance names is watched, and a
// timer wakes it at the next client deadline, so a slow client never holds the main thread.
#pragma once

#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "backends/system/single_instance.h"
#include "base/clock.h"

class QSocketNotifier;

namespace tolvane::shell {

class InstanceListener {
 public:
  /// Starts watching `instance`; `deliver` runs on the main thread for every message. Both
  /// `instance` and `clock` must outlive the listener.
  InstanceListener(system::SingleInstance& instance, const Clock& clock,
                   std::function<void(const std::string& message)> deliver);
  ~InstanceListener();
  InstanceListener(const InstanceListener&) = delete;
  InstanceListener& operator=(const InstanceListener&) = delete;

 private:
  void service();
  // Brings the notifiers and the deadline timer in line with the instance's current clients.
  void watch();

  system::SingleInstance& instance_;
  const Clock& clock_;
  std::function<void(const std::string&)> deliver_;
  std::map<int, std::unique_ptr<QSocketNotifier>> notifiers_;
  QTimer deadline_;
};

}  // namespace tolvane::shell
