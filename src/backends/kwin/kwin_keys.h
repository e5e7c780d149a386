// Tolvane's key combinations in KWin's words. The tap and the hot keys name combinations as sway
// does ("Mod4+Shift+Tab"); KWin's scripts register Qt key sequences ("Meta+Shift+Backtab") and
// kglobalaccel is asked about Qt's key numbers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane::kwin {

/// One combination as KWin names it.
struct KWinShortcut {
  /// What a script's registerShortcut takes: "Meta+Tab", "Alt+Space", "Meta+~".
  std::string sequence;
  /// Qt's number for it (modifier bits or'ed with the key), as kglobalaccel lists shortcuts.
  int qtKey = 0;
  bool operator==(const KWinShortcut&) const = default;
};

/// The combination `swayCombo` names, as KWin names it; nothing for a modifier or key KWin
/// has no name for here.
std::optional<KWinShortcut> kwinShortcutOf(std::string_view swayCombo);

}  // namespace tolvane::kwin
