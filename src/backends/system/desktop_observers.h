// The observers a desktop backend keeps for the workspace and accessibility contracts, and how
// they are told, the same whichever display system the desktop reads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "platform/accessibility.h"
#include "platform/workspace.h"

namespace tolvane::system {

/// Each observer is looked up again right before its call, and nothing more is called once the
/// registry is gone: a handler may remove itself, another one, or the desktop that owns this.
/// Main thread only.
class DesktopObservers {
 public:
  /// "The registration was made already", as the accessibility contract answers it.
  static constexpr int kNotificationAlreadyRegistered = -25209;
  /// The desktop's own checks of a registration on `element` by an observer of `observed`:
  /// ax::kSuccess lets it be recorded, anything else is the answer.
  using NotificationCheck =
      std::function<int(Pid observed, const AXElement& element, std::string_view notification)>;

  DesktopObservers() = default;
  DesktopObservers(const DesktopObservers&) = delete;
  DesktopObservers& operator=(const DesktopObservers&) = delete;

  ObserverToken addWorkspace(WorkspaceEvent event, Workspace::AppHandler handler);
  void removeWorkspace(ObserverToken token) { workspace_.erase(token); }
  /// An observer of `pid`'s notifications; dropping it unregisters them.
  std::unique_ptr<AXObserver> addAccessibility(Pid pid, Accessibility::ObserverCallback callback,
                                               NotificationCheck check);

  /// Tells the workspace observers of `event`. False when the registry went away meanwhile:
  /// the caller must then not touch its desktop.
  bool notifyWorkspace(WorkspaceEvent event, const RunningApp& app);
  /// Tells `pid`'s observers registered for focused-window changes that `window` has the focus.
  bool notifyFocusedWindowChanged(Pid pid, const AXElement& window);

 private:
  class Observer;
  struct WorkspaceEntry {
    WorkspaceEvent event;
    Workspace::AppHandler handler;
  };
  struct AccessibilityEntry {
    Pid pid = 0;
    Accessibility::ObserverCallback callback;
    std::set<std::string, std::less<>> notifications;
  };

  std::map<ObserverToken, WorkspaceEntry> workspace_;
  std::map<std::uint64_t, AccessibilityEntry> accessibility_;
  ObserverToken nextToken_ = 1;
  std::uint64_t nextObserver_ = 1;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tolvane::system
