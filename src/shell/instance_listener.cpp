// Keeping Qt's notifiers in step with the instance socket's clients.
#include "shell/instance_listener.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cmath>
#include <set>

namespace tolvane::shell {

InstanceListener::InstanceListener(system::SingleInstance& instance, const Clock& clock,
                                   std::function<void(const std::string&)> deliver)
    : instance_(instance), clock_(clock), deliver_(std::move(deliver)) {
  deadline_.setSingleShot(true);
  QObject::connect(&deadline_, &QTimer::timeout, [this] { service(); });
  watch();
}

InstanceListener::~InstanceListener() = default;

void InstanceListener::service() {
  const auto messages = instance_.service(clock_.now());
  // Watching is brought up to date before any message is handled: handling one may run a
  // nested event loop, which must not see notifiers of closed descriptors.
  watch();
  for (const auto& message : messages) deliver_(message);
}

void InstanceListener::watch() {
  const auto watched = instance_.descriptors();
  const std::set<int> wanted(watched.begin(), watched.end());
  for (auto it = notifiers_.begin(); it != notifiers_.end();) {
    if (wanted.contains(it->first)) {
      ++it;
      continue;
    }
    // The descriptor is closed already; the notifier stops now and is deleted later, since
    // this may run inside its own activated signal.
    it->second->setEnabled(false);
    it->second.release()->deleteLater();
    it = notifiers_.erase(it);
  }
  for (int fd : wanted) {
    if (notifiers_.contains(fd)) continue;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { service(); });
    notifiers_.emplace(fd, std::move(notifier));
  }
  deadline_.stop();
  if (const auto deadline = instance_.nextDeadline()) {
    const double millis = std::ceil((*deadline - clock_.now()) * 1000.0);
    deadline_.start(static_cast<int>(std::clamp(millis, 0.0, 60000.0)));
  }
}

}  // namespace tolvane::shell
