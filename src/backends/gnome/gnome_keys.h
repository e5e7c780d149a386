// Tolvane's key combinations in GNOME's words. The tap and the hot keys name combinations as
// sway does ("Mod4+Shift+Tab"); GNOME's settings and Mutter's grabs take accelerators
// ("<Super><Shift>Tab").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane::gnome {

/// The accelerator of `swayCombo`; nothing for an empty or unnamed part.
std::optional<std::string> acceleratorOf(std::string_view swayCombo);

}  // namespace tolvane::gnome
