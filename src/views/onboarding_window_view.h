// What the onboarding window shows: one page of the flow as a column of blocks, and the footer
// with the page dots, "Back" and the page's buttons. The core builds a new description after
// every change and on its one-second re-evaluation; the backend repaints it and sizes the
// window's height to the content.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tolvane {

/// The application icon, large.
struct OnboardingIcon {};

struct OnboardingHeading {
  std::string text;
};

struct OnboardingText {
  std::string text;
  bool secondary = false;
};

/// One thing the product needs, with whether it holds and, while it does not, a button.
struct OnboardingRequirement {
  std::string id;
  std::string title;
  std::string reason;
  bool granted = false;
  /// "Allow" while not granted; "Allowed" once granted.
  std::string buttonTitle;
  /// Nothing: no button (what is missing cannot be fixed from here).
  std::function<void()> onButton;
};

/// A row of key caps and what the combination does.
struct OnboardingKeyRow {
  std::vector<std::string> chips;
  /// A magnifying-glass symbol before the chips (the palette binding).
  bool searchSymbol = false;
  std::string meaning;
};

/// A consent row with its switch.
struct OnboardingConsent {
  std::string id;
  std::string title;
  std::string body;
  bool on = false;
  std::function<void(bool on)> onChange;
};

/// A text button that looks like a link.
struct OnboardingLink {
  std::string title;
  std::function<void()> action;
};

using OnboardingBlock =
    std::variant<OnboardingIcon, OnboardingHeading, OnboardingText, OnboardingRequirement,
                 OnboardingKeyRow, OnboardingConsent, OnboardingLink>;

struct OnboardingButton {
  std::string title;
  std::function<void()> action;
};

struct OnboardingWindowView {
  static constexpr double kWidth = 360;
  /// The window is at most the screen's visible height minus this.
  static constexpr double kScreenMargin = 40;
  /// When no screen is known.
  static constexpr double kFallbackMaxHeight = 860;

  std::string windowTitle;
  std::vector<OnboardingBlock> blocks;
  /// Shown with animated dots while the page waits for a requirement; empty otherwise.
  std::string waitingText;

  int pageCount = 0;
  int pageIndex = 0;
  /// Nothing on the first page.
  std::optional<OnboardingButton> back;
  OnboardingButton primary;
  bool primaryEnabled = true;
  /// "Skip for now" on a skippable page that is not done.
  std::optional<OnboardingButton> secondary;
};

}  // namespace tolvane
