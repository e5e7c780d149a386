// Following one activation request until the compositor answers it or the bound runs out.
#include "backends/wayland/wayland_desktop_activation.h"

#include <utility>

namespace tolvane::wayland {

ActivationWait::~ActivationWait() {
  loop_.cancel(bound_);
}

void ActivationWait::start(ToplevelId target, Workspace::ActivationAnswer answer) {
  if (waiting()) finish(false);
  target_ = target;
  answer_ = std::move(answer);
  // Nobody listening is still a request to follow: a newer one supersedes it all the same.
  if (!answer_) answer_ = [](bool) {};
  bound_ = loop_.postAfter(kBoundSeconds, [this] { expire(); });
}

void ActivationWait::activated(ToplevelId id) {
  if (waiting() && id == target_) finish(true);
}

void ActivationWait::closed(ToplevelId id) {
  if (waiting() && id == target_) finish(false);
}

void ActivationWait::abandon() {
  if (waiting()) finish(false);
}

void ActivationWait::expire() {
  bound_ = 0;
  if (waiting()) finish(isActivated_(target_));
}

void ActivationWait::finish(bool accepted) {
  loop_.cancel(std::exchange(bound_, 0));
  target_ = 0;
  // The answer may start another activation; it runs later, from the loop, with nothing of
  // this wait in use.
  loop_.post([answer = std::exchange(answer_, nullptr), accepted] { answer(accepted); });
}

}  // namespace tolvane::wayland
