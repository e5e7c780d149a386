// The answer to an activation request on X11: whether the window manager made the window
// active, learnt from `_NET_ACTIVE_WINDOW` within a bound, without blocking the main thread.
#pragma once

#include <xcb/xcb.h>

#include <functional>
#include <optional>

#include "base/run_loop.h"
#include "platform/workspace.h"

namespace tolvane::x11 {

/// Follows the latest activation request until the window manager answers it. Sending the
/// request proves nothing: a window manager with focus-stealing prevention may refuse it, and
/// the window may be gone. The answer is true when the active window becomes one the request
/// asked for within kBoundSeconds, false when the bound runs out, the target goes away, or a
/// newer request supersedes this one. Answers are posted to the run loop, so they never run
/// inside the desktop's calls or event handling. Main thread only.
class ActivationWatch {
 public:
  /// How long a window manager may take to make the window active. Openbox answers within a
  /// few milliseconds; a request still unanswered after this counts as refused.
  static constexpr double kBoundSeconds = 0.5;

  /// What one request asked for, as the desktop that sent it can tell.
  struct Target {
    /// Whether `window`, now the active one, is what the request asked for.
    std::function<bool(xcb_window_t window)> accepts;
    /// Whether what the request asked for still exists.
    std::function<bool()> exists;
  };

  /// `readActive` reads the active window from the server (nothing when it cannot): at the
  /// bound the cache is not enough, because a request for the window that is active already
  /// changes nothing and so sends no event.
  ActivationWatch(RunLoop& loop, std::function<std::optional<xcb_window_t>()> readActive)
      : loop_(loop), readActive_(std::move(readActive)) {}
  /// Stops the bound's timer; a request still waiting gets no answer.
  ~ActivationWatch();
  ActivationWatch(const ActivationWatch&) = delete;
  ActivationWatch& operator=(const ActivationWatch&) = delete;

  /// Follows a request just sent; a request still waiting is superseded and answered false.
  void start(Target target, Workspace::ActivationAnswer answer);
  /// The window manager named `window` the active window (XCB_WINDOW_NONE for none).
  void activeChanged(xcb_window_t window);
  /// The managed windows changed: a request whose target went away is answered false.
  void clientsChanged();

 private:
  bool waiting() const { return answer_ != nullptr; }
  void expire();
  void finish(bool accepted);

  RunLoop& loop_;
  std::function<std::optional<xcb_window_t>()> readActive_;
  Target target_;
  Workspace::ActivationAnswer answer_;
  TimerId bound_ = 0;
};

}  // namespace tolvane::x11
