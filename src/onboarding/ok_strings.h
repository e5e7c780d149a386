// The onboarding pager's own texts, asked for each time they are shown so that they follow the
// interface language.
#pragma once

#include <functional>
#include <string>

namespace tolvane {

struct OKStrings {
  /// The main button of a page that names none.
  std::function<std::string()> continueTitle;
  /// The main button of the last page when it names none.
  std::function<std::string()> startTitle;
  /// Shown while a page waits for its requirement.
  std::function<std::string()> waiting;
  /// Moves past a skippable page that is not done.
  std::function<std::string()> later;
  std::function<std::string()> back;
};

}  // namespace tolvane
