// Registering and telling the desktop's observers.
#include "backends/system/desktop_observers.h"

#include <utility>
#include <vector>

namespace tolvane::system {

// Unregisters on destruction, as releasing an observer removes it from the run loop.
class DesktopObservers::Observer final : public AXObserver {
 public:
  Observer(DesktopObservers& owner, std::uint64_t id, NotificationCheck check)
      : owner_(owner), alive_(owner.alive_), id_(id), check_(std::move(check)) {}
  ~Observer() override {
    if (alive_.lock()) owner_.accessibility_.erase(id_);
  }
  int addNotification(const AXElement& element, std::string_view notification) override {
    if (!alive_.lock()) return ax::kFailure;
    auto it = owner_.accessibility_.find(id_);
    if (it == owner_.accessibility_.end()) return ax::kFailure;
    if (const int answer = check_(it->second.pid, element, notification); answer != ax::kSuccess) {
      return answer;
    }
    if (!it->second.notifications.emplace(notification).second) {
      return kNotificationAlreadyRegistered;
    }
    return ax::kSuccess;
  }

 private:
  DesktopObservers& owner_;
  std::weak_ptr<int> alive_;
  std::uint64_t id_;
  NotificationCheck check_;
};

ObserverToken DesktopObservers::addWorkspace(WorkspaceEvent event, Workspace::AppHandler handler) {
  const ObserverToken token = nextToken_++;
  workspace_.emplace(token, WorkspaceEntry{event, std::move(handler)});
  return token;
}

std::unique_ptr<AXObserver> DesktopObservers::addAccessibility(
    Pid pid, Accessibility::ObserverCallback callback, NotificationCheck check) {
  const std::uint64_t id = nextObserver_++;
  accessibility_.emplace(id, AccessibilityEntry{.pid = pid, .callback = std::move(callback)});
  return std::make_unique<Observer>(*this, id, std::move(check));
}

bool DesktopObservers::notifyWorkspace(WorkspaceEvent event, const RunningApp& app) {
  const std::weak_ptr<int> alive = alive_;
  std::vector<ObserverToken> tokens;
  for (const auto& [token, entry] : workspace_) {
    if (entry.event == event) tokens.push_back(token);
  }
  for (auto token : tokens) {
    if (!alive.lock()) return false;
    auto it = workspace_.find(token);
    if (it == workspace_.end()) continue;
    auto handler = it->second.handler;  // the handler may remove itself
    handler(app);
  }
  return alive.lock() != nullptr;
}

bool DesktopObservers::notifyFocusedWindowChanged(Pid pid, const AXElement& window) {
  const std::weak_ptr<int> alive = alive_;
  std::vector<std::uint64_t> ids;
  for (const auto& [id, entry] : accessibility_) {
    if (entry.pid == pid && entry.notifications.count(ax::kFocusedWindowChanged)) {
      ids.push_back(id);
    }
  }
  for (auto id : ids) {
    if (!alive.lock()) return false;
    auto it = accessibility_.find(id);
    if (it == accessibility_.end()) continue;
    auto callback = it->second.callback;  // the callback may drop its own observer
    callback(window);
  }
  return alive.lock() != nullptr;
}

}  // namespace tolvane::system
