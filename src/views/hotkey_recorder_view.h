// What the hot-key recorder shows: the stored combination as key chips, or the prompt while it
// records, and whether the reset button is there; with the sizes and paints of each part.
#pragma once

#include <string>
#include <vector>

#include "views/paint.h"

namespace tolvane {

/// One key cap of a combination (a modifier symbol or the key's name).
struct KeyChipStyle {
  static constexpr double kFontPoints = 12;
  static constexpr double kMinWidth = 20;
  static constexpr double kHeight = 22;
  static constexpr double kHorizontalInset = 5;
  static constexpr double kCornerRadius = 5;
  static constexpr double kStrokeWidth = 0.5;
  static constexpr Paint kFill{SemanticColor::primary, 0.045};
  static constexpr Paint kStroke{SemanticColor::primary, 0.14};
};

struct HotkeyRecorderView {
  static constexpr double kHeight = 28;
  static constexpr double kCornerRadius = 7;
  /// The prompt's font: system font, medium weight.
  static constexpr double kPromptFontPoints = 11;
  /// The reset button's symbol (a backward U-turn arrow in a filled circle), tertiary style.
  static constexpr double kResetSymbolPoints = 14;

  bool recording = false;
  /// The chips of the stored combination; empty while recording.
  std::vector<std::string> chips;
  /// The localized prompt while recording; empty otherwise.
  std::string prompt;
  /// Space between the rounded rectangle's edge and its content.
  double horizontalInset = 6;
  Paint fill{SemanticColor::primary, 0.03};
  Paint stroke{SemanticColor::primary, 0.12};
  double strokeWidth = 1;
  Paint promptColor{SemanticColor::accent, 1.0};
  /// The reset button is shown only when the combination is not the default one.
  bool showsReset = false;

  bool operator==(const HotkeyRecorderView&) const = default;
};

}  // namespace tolvane
