// The generic onboarding pager: shows a list of pages one at a time in the onboarding window,
// re-evaluates a page's requirement on a timer, and reports completion or an early close.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/run_loop.h"
#include "onboarding/ok_step.h"
#include "onboarding/ok_strings.h"
#include "platform/described_window.h"
#include "views/onboarding_window_view.h"

namespace tolvane {

/// Main thread only. One pager lives for one showing of the window.
///
/// A page with a requirement moves on by itself only when the requirement turns true while the
/// page waits for it; a page reached with its requirement already met waits for the user, so
/// that "Back" onto it does not bounce forward again.
///
/// `onCompleted` and `onClosedByUser` may destroy the pager: each is the last thing the pager
/// does in the call that runs it.
class OnboardingKitController {
 public:
  struct Dependencies {
    OnboardingWindow& window;
    RunLoop& runLoop;
    /// How often a page's requirement is asked again while the window is open.
    double reevaluateSeconds;
    /// At least one page.
    std::vector<OKStep> steps;
    OKStrings strings;
    std::function<std::string()> windowTitle;
    /// The last page's main button was pressed; the window is closed already.
    std::function<void()> onCompleted;
    /// The user closed the window before finishing.
    std::function<void()> onClosedByUser;
  };

  explicit OnboardingKitController(Dependencies deps);
  ~OnboardingKitController();
  OnboardingKitController(const OnboardingKitController&) = delete;
  OnboardingKitController& operator=(const OnboardingKitController&) = delete;

  /// Paints the first page of `kind` (the first page when there is none, or when no kind is
  /// given), brings the window forward and starts the re-evaluation.
  void show(std::optional<OKStep::Kind> kind = std::nullopt);
  /// Moves to the first page of `kind`, when there is one, and repaints.
  void moveTo(OKStep::Kind kind);
  /// Paints the current page again, with texts and states as they are now.
  void repaint();
  /// The window reported that the user closed it; ignored while closing after completion.
  void windowClosedByUser();
  OKStep::Kind currentKind() const { return d_.steps[index_].kind; }
  /// The description of the current page.
  OnboardingWindowView view();

 private:
  bool isDone(const OKStep& step) const;
  std::size_t indexOf(OKStep::Kind kind) const;
  void goTo(std::size_t index);
  void advance();
  void goBack();
  void pressPrimary();
  void reevaluate();
  void finish();
  void stopTimer();
  /// A button action that does nothing once the pager is gone: the painted description can
  /// outlive it.
  std::function<void()> action(void (OnboardingKitController::*method)());

  Dependencies d_;
  std::size_t index_ = 0;
  /// The current page was seen not done; it moves on by itself once it is.
  bool waiting_ = false;
  /// True while the window closes after completion, so the close is not reported as the
  /// user's.
  bool finishing_ = false;
  TimerId timer_ = 0;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace tolvane
