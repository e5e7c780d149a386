// Following one activation request until the window manager answers it or the bound runs out.
#include "backends/x11/activation_watch.h"

#include <utility>

namespace tolvane::x11 {

ActivationWatch::~ActivationWatch() {
  loop_.cancel(bound_);
}

void ActivationWatch::start(Target target, Workspace::ActivationAnswer answer) {
  if (waiting()) finish(false);
  target_ = std::move(target);
  answer_ = std::move(answer);
  // Nobody listening is still a request to follow: a newer one supersedes it all the same.
  if (!answer_) answer_ = [](bool) {};
  bound_ = loop_.postAfter(kBoundSeconds, [this] { expire(); });
}

void ActivationWatch::activeChanged(xcb_window_t window) {
  if (waiting() && window != XCB_WINDOW_NONE && target_.accepts(window)) finish(true);
}

void ActivationWatch::clientsChanged() {
  if (waiting() && !target_.exists()) finish(false);
}

void ActivationWatch::expire() {
  bound_ = 0;
  if (!waiting()) return;
  const auto active = readActive_();
  finish(active && *active != XCB_WINDOW_NONE && target_.accepts(*active) && target_.exists());
}

void ActivationWatch::finish(bool accepted) {
  loop_.cancel(std::exchange(bound_, 0));
  target_ = {};
  // The answer may start another activation; it runs later, from the loop, with nothing of
  // this watch in use.
  loop_.post([answer = std::exchange(answer_, nullptr), accepted] { answer(accepted); });
}

}  // namespace tolvane::x11
