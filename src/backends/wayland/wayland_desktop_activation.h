// The answer to an activation request on Wayland: whether the compositor activated the toplevel
// asked for, learnt from the toplevel source's `changed` within a bound, without blocking.
#pragma once

#include <functional>

#include "backends/wayland/toplevel_model.h"
#include "base/run_loop.h"
#include "platform/workspace.h"

namespace tolvane::wayland {

/// Follows the latest activation request until the compositor answers it. A compositor may
/// ignore the request (focus-stealing prevention, a locked session), so sending it proves
/// nothing. The answer is true when the toplevel is reported activated within kBoundSeconds,
/// false when the bound runs out with it not activated, when it closes, or when a newer request
/// supersedes this one. Answers are posted to the run loop, so they never run inside the
/// desktop's calls or event handling. Main thread only.
class ActivationWait {
 public:
  /// How long a compositor may take to activate a toplevel; sway answers within one frame.
  static constexpr double kBoundSeconds = 0.5;

  /// `isActivated` tells whether a toplevel is activated as of the latest `done`: at the bound
  /// it decides, because a request for the toplevel that is activated already changes nothing
  /// and so brings no `changed`.
  ActivationWait(RunLoop& loop, std::function<bool(ToplevelId)> isActivated)
      : loop_(loop), isActivated_(std::move(isActivated)) {}
  /// Stops the bound's timer; a request still waiting gets no answer.
  ~ActivationWait();
  ActivationWait(const ActivationWait&) = delete;
  ActivationWait& operator=(const ActivationWait&) = delete;

  /// Follows a request just sent for `target`; one still waiting is superseded (false).
  void start(ToplevelId target, Workspace::ActivationAnswer answer);
  /// A `changed` reported `id` activated.
  void activated(ToplevelId id);
  /// The toplevel is gone.
  void closed(ToplevelId id);
  /// The source withdrew every toplevel: a request still waiting is answered false.
  void abandon();

 private:
  bool waiting() const { return answer_ != nullptr; }
  void expire();
  void finish(bool accepted);

  RunLoop& loop_;
  std::function<bool(ToplevelId)> isActivated_;
  ToplevelId target_ = 0;
  Workspace::ActivationAnswer answer_;
  TimerId bound_ = 0;
};

}  // namespace tolvane::wayland
