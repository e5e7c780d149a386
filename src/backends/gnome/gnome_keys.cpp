// sway's names of modifiers and keys, and what GNOME calls them.
//
//   sway                    | GNOME (Mutter accelerators)
//   ------------------------+------------------------------------------------------------------
//   Mod4, Super, Meta       | <Super>
//   Mod1, Alt               | <Alt>
//   Ctrl, Control           | <Control>
//   Shift                   | <Shift>
//   grave                   | Above_Tab: Mutter's name for the key above Tab in any layout, the
//                           | one its own window-group switcher is bound to
//   any other key           | its xkb keysym name, as sway's ("Tab", "space", "a", "F1")
#include "backends/gnome/gnome_keys.h"

#include <array>

namespace tolvane::gnome {

namespace {

struct Name {
  std::string_view sway, gnome;
};

constexpr std::array<Name, 8> kModifiers = {{
    {"Mod4", "<Super>"},
    {"Super", "<Super>"},
    {"Meta", "<Super>"},
    {"Mod1", "<Alt>"},
    {"Alt", "<Alt>"},
    {"Ctrl", "<Control>"},
    {"Control", "<Control>"},
    {"Shift", "<Shift>"},
}};

constexpr std::array<Name, 1> kKeys = {{{"grave", "Above_Tab"}}};

bool isKeyName(std::string_view key) {
  if (key.empty() || key.size() > 64) return false;
  for (char c : key) {
    const bool word =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!word) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> acceleratorOf(std::string_view swayCombo) {
  std::string accelerator;
  while (true) {
    const auto plus = swayCombo.find('+');
    const std::string_view part = swayCombo.substr(0, plus);
    if (plus == std::string_view::npos) {
      for (const auto& key : kKeys) {
        if (key.sway == part) return accelerator + std::string(key.gnome);
      }
      if (!isKeyName(part)) return std::nullopt;
      return accelerator + std::string(part);
    }
    bool known = false;
    for (const auto& modifier : kModifiers) {
      if (modifier.sway != part) continue;
      // Written once each, whatever aliases the combination repeats.
      if (accelerator.find(modifier.gnome) == std::string::npos) accelerator += modifier.gnome;
      known = true;
    }
    if (!known) return std::nullopt;
    swayCombo.remove_prefix(plus + 1);
  }
}

}  // namespace tolvane::gnome
