// The onboarding pager's paging, footer and timed re-evaluation.
#include "onboarding/onboarding_kit_controller.h"

#include <utility>

namespace tolvane {

OnboardingKitController::OnboardingKitController(Dependencies deps) : d_(std::move(deps)) {}

OnboardingKitController::~OnboardingKitController() {
  stopTimer();
}

void OnboardingKitController::show(std::optional<OKStep::Kind> kind) {
  index_ = kind ? indexOf(*kind) : 0;
  goTo(index_);
  d_.window.bringToFront();
  if (timer_ == 0) {
    timer_ = d_.runLoop.repeatEvery(d_.reevaluateSeconds, [this] { reevaluate(); });
  }
}

void OnboardingKitController::moveTo(OKStep::Kind kind) {
  goTo(indexOf(kind));
}

void OnboardingKitController::repaint() {
  d_.window.show(view());
}

void OnboardingKitController::windowClosedByUser() {
  if (finishing_) return;
  stopTimer();
  const auto report = d_.onClosedByUser;
  if (report) report();
}

OnboardingWindowView OnboardingKitController::view() {
  const OKStep& step = d_.steps[index_];
  const bool done = isDone(step);
  OnboardingWindowView view;
  view.windowTitle = d_.windowTitle ? d_.windowTitle() : std::string();
  if (step.content) view.blocks = step.content();
  if (!done) view.waitingText = d_.strings.waiting();
  view.pageCount = static_cast<int>(d_.steps.size());
  view.pageIndex = static_cast<int>(index_);
  if (index_ > 0) {
    view.back = OnboardingButton{d_.strings.back(), action(&OnboardingKitController::goBack)};
  }
  const bool last = index_ + 1 == d_.steps.size();
  const std::string primaryTitle = step.primaryTitle ? step.primaryTitle()
                                   : last            ? d_.strings.startTitle()
                                                     : d_.strings.continueTitle();
  view.primary = {primaryTitle, action(&OnboardingKitController::pressPrimary)};
  view.primaryEnabled = done;
  if (step.skippable && !done) {
    view.secondary =
        OnboardingButton{d_.strings.later(), action(&OnboardingKitController::advance)};
  }
  return view;
}

bool OnboardingKitController::isDone(const OKStep& step) const {
  return !step.requiredGranted || step.requiredGranted();
}

std::size_t OnboardingKitController::indexOf(OKStep::Kind kind) const {
  for (std::size_t i = 0; i < d_.steps.size(); ++i) {
    if (d_.steps[i].kind == kind) return i;
  }
  return index_;
}

void OnboardingKitController::goTo(std::size_t index) {
  index_ = index;
  waiting_ = !isDone(d_.steps[index_]);
  repaint();
}

void OnboardingKitController::advance() {
  if (index_ + 1 < d_.steps.size()) {
    goTo(index_ + 1);
  } else {
    finish();
  }
}

void OnboardingKitController::goBack() {
  if (index_ > 0) goTo(index_ - 1);
}

void OnboardingKitController::pressPrimary() {
  const OKStep& step = d_.steps[index_];
  if (!isDone(step)) return;
  if (step.primaryAction && !step.primaryAction()) return;
  advance();
}

void OnboardingKitController::reevaluate() {
  const OKStep& step = d_.steps[index_];
  if (!step.requiredGranted) return;
  if (!isDone(step)) {
    waiting_ = true;
  } else if (waiting_) {
    advance();
    return;
  }
  repaint();
}

void OnboardingKitController::finish() {
  finishing_ = true;
  stopTimer();
  d_.window.close();
  const auto report = d_.onCompleted;
  if (report) report();
}

void OnboardingKitController::stopTimer() {
  d_.runLoop.cancel(std::exchange(timer_, 0));
}

std::function<void()> OnboardingKitController::action(void (OnboardingKitController::*method)()) {
  return [this, method, alive = std::weak_ptr<char>(alive_)] {
    if (!alive.expired()) (this->*method)();
  };
}

}  // namespace tolvane
