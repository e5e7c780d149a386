// Workspace notifications, per-process focus observers and the delayed focused-window query.
#include "focus/mru_tracker.h"

#include <limits>

namespace tolvane {

MRUTracker::MRUTracker(Services services)
    : s_(services),
      ownPID_(services.workspace.ownPid()),
      self_(std::make_shared<MRUTracker*>(this)) {}

MRUTracker::~MRUTracker() {
  for (auto token : workspaceObservers_) s_.workspace.removeObserver(token);
}

void MRUTracker::later(double seconds, std::function<void(MRUTracker&)> work) {
  // Delayed work holds the tracker weakly: it may outlive the tracker on the run loop.
  std::weak_ptr<MRUTracker*> weak = self_;
  s_.runLoop.postAfter(seconds, [weak, work = std::move(work)] {
    if (auto self = weak.lock()) work(**self);
  });
}

void MRUTracker::start() {
  seedFromZOrder();
  auto& ws = s_.workspace;
  for (auto token : workspaceObservers_) ws.removeObserver(token);
  workspaceObservers_ = {
      ws.addObserver(WorkspaceEvent::activated,
                     [this](const RunningApp& app) { appActivated(app.pid); }),
      ws.addObserver(WorkspaceEvent::launched,
                     [this](const RunningApp& app) {
                       const Pid pid = app.pid;
                       later(kObserveAfterLaunchSeconds,
                             [pid](MRUTracker& tracker) { tracker.observeFocus(pid); });
                     }),
      ws.addObserver(WorkspaceEvent::terminated,
                     [this](const RunningApp& app) { forget(app.pid); }),
  };
  for (const auto& app : ws.runningApplications()) {
    if (app.activationPolicy == ActivationPolicy::regular) observeFocus(app.pid);
  }
}

void MRUTracker::seedFromZOrder() {
  const auto windows = s_.windowServer.onScreenWindows();
  if (!windows) return;
  std::vector<std::uint32_t> numbers;
  numbers.reserve(windows->size());
  for (const auto& info : *windows) {
    if (!info.layer || *info.layer != 0 || !info.number) continue;
    if (*info.number <= 0 || *info.number > std::numeric_limits<std::uint32_t>::max()) continue;
    numbers.push_back(static_cast<std::uint32_t>(*info.number));
  }
  order_.append(numbers);
}

std::optional<std::uint32_t> MRUTracker::frontmostFocusedWindowID() const {
  const auto frontmost = s_.workspace.frontmostPid();
  if (!frontmost) return std::nullopt;
  auto it = focusedByPID_.find(*frontmost);
  if (it == focusedByPID_.end()) return std::nullopt;
  return it->second;
}

void MRUTracker::appActivated(Pid pid) {
  // Our own panels and windows never change the history.
  if (pid == ownPID_) return;
  if (auto it = focusedByPID_.find(pid); it != focusedByPID_.end()) order_.bump(it->second);
  if (!axObservers_.count(pid)) observeFocus(pid);
  later(kRequeryAfterActivationSeconds,
        [pid](MRUTracker& tracker) { tracker.bumpFocusedWindow(pid); });
}

void MRUTracker::observeFocus(Pid pid) {
  if (pid == ownPID_ || axObservers_.count(pid)) return;
  int error = ax::kSuccess;
  auto observer = s_.accessibility.createObserver(
      pid, [this](const AXElement& element) { focusChanged(element); }, error);
  if (error != ax::kSuccess || !observer) return;
  const auto appElement = s_.accessibility.applicationElement(pid);
  s_.accessibility.setMessagingTimeout(appElement, kMessagingTimeoutSeconds);
  // Nothing is stored on failure, so the next activation tries again.
  if (observer->addNotification(appElement, ax::kFocusedWindowChanged) != ax::kSuccess) return;
  axObservers_.emplace(pid, std::move(observer));
}

void MRUTracker::bumpFocusedWindow(Pid pid) {
  // The user may have moved on within the delay; then this activation is history already.
  if (s_.workspace.frontmostPid() != pid) return;
  const auto appElement = s_.accessibility.applicationElement(pid);
  s_.accessibility.setMessagingTimeout(appElement, kMessagingTimeoutSeconds);
  const auto focused = s_.accessibility.copyAttribute(appElement, ax::kFocusedWindow);
  if (focused.error != ax::kSuccess || !focused.value) return;
  const auto* element = std::get_if<AXElement>(&*focused.value);
  if (!element || !*element) return;
  std::uint32_t number = 0;
  if (s_.accessibility.windowNumber(*element, number) != ax::kSuccess || number == 0) return;
  focusedByPID_[pid] = number;
  order_.bump(number);
}

void MRUTracker::focusChanged(const AXElement& element) {
  const auto pid = s_.accessibility.pidOf(element);
  if (!pid || *pid == ownPID_) return;
  std::uint32_t number = 0;
  if (s_.accessibility.windowNumber(element, number) != ax::kSuccess || number == 0) return;
  focusedByPID_[*pid] = number;
  // A background application's focus change is remembered, not promoted: the user has not
  // gone there. Activating it later promotes the window remembered here.
  if (s_.workspace.frontmostPid() == *pid) order_.bump(number);
}

void MRUTracker::forget(Pid pid) {
  axObservers_.erase(pid);  // dropping the observer unregisters it
  focusedByPID_.erase(pid);
}

}  // namespace tolvane
