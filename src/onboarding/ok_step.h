// One page of the onboarding pager: what it shows, when it counts as done, and its main button.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "views/onboarding_window_view.h"

namespace tolvane {

/// One page. Its body and titles are built each time it is painted, so they follow the current
/// language and the current state of what the page asks for.
struct OKStep {
  enum class Kind { welcome, permissions, setup, tutorial, consent };

  Kind kind = Kind::welcome;
  /// The page's body.
  std::function<std::vector<OnboardingBlock>()> content;
  /// When set, the page counts as done only while this answers true.
  std::function<bool()> requiredGranted;
  /// Whether a "later" button is offered while the page is not done.
  bool skippable = false;
  /// The main button's title; unset: the pager's own.
  std::function<std::string()> primaryTitle;
  /// Runs when the main button is pressed and answers whether to move on; unset: move on.
  std::function<bool()> primaryAction;
};

/// The kind's name as log lines spell it.
constexpr std::string_view kindName(OKStep::Kind kind) {
  switch (kind) {
    case OKStep::Kind::welcome:
      return "welcome";
    case OKStep::Kind::permissions:
      return "permissions";
    case OKStep::Kind::setup:
      return "setup";
    case OKStep::Kind::tutorial:
      return "tutorial";
    case OKStep::Kind::consent:
      return "consent";
  }
  return "?";
}

}  // namespace tolvane
