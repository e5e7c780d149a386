// Keeps the focus history in step with what the user actually focuses, whoever caused it:
// application activations, focus changes between one application's windows, and at start the
// on-screen stacking order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "base/run_loop.h"
#include "focus/mru_order.h"
#include "platform/accessibility.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tolvane {

/// Main thread only. This process itself is never observed and never recorded; window number 0
/// is never stored or promoted.
class MRUTracker {
 public:
  static constexpr double kObserveAfterLaunchSeconds = 1.0;
  static constexpr double kRequeryAfterActivationSeconds = 0.15;
  static constexpr double kMessagingTimeoutSeconds = 0.1;

  struct Services {
    Workspace& workspace;
    Accessibility& accessibility;
    WindowServer& windowServer;
    RunLoop& runLoop;
  };

  explicit MRUTracker(Services services);
  ~MRUTracker();
  MRUTracker(const MRUTracker&) = delete;
  MRUTracker& operator=(const MRUTracker&) = delete;

  /// Seeds the history from the stacking order and starts watching. Called once at launch.
  void start();

  /// The focus history; the activator promotes windows in it directly.
  MRUOrder& order() { return order_; }
  const MRUOrder& order() const { return order_; }

  /// The window last seen focused in the frontmost application; asks no other application.
  std::optional<std::uint32_t> frontmostFocusedWindowID() const;

 private:
  void seedFromZOrder();
  void appActivated(Pid pid);
  void observeFocus(Pid pid);
  void bumpFocusedWindow(Pid pid);
  void focusChanged(const AXElement& element);
  void forget(Pid pid);
  // Runs `work` later on the main thread unless the tracker is gone by then.
  void later(double seconds, std::function<void(MRUTracker&)> work);

  Services s_;
  MRUOrder order_;
  std::vector<ObserverToken> workspaceObservers_;
  std::unordered_map<Pid, std::unique_ptr<AXObserver>> axObservers_;
  std::unordered_map<Pid, std::uint32_t> focusedByPID_;
  const Pid ownPID_;
  std::shared_ptr<MRUTracker*> self_;
};

}  // namespace tolvane
