// sway's names of modifiers and keys, and what Qt (and so KWin) calls them.
//
//   sway                    | KWin (Qt)
//   ------------------------+------------------------------------------------------------------
//   Mod4, Super             | Meta
//   Mod1, Alt               | Alt
//   Ctrl, Control           | Ctrl
//   Shift                   | Shift, except where Qt folds it into the key:
//   Shift+Tab               | Shift+Backtab (what Qt reports for Tab with Shift)
//   Shift+grave             | ~ without Shift (the key above Tab types it; KWin's own
//                           | reverse application switcher is bound the same way)
//   a letter                | its capital ("A", Qt::Key_A)
//   another printable key   | the character itself ("1", "-", "`")
//   space, Tab, Return…     | Space, Tab, Return, Enter, Esc, Left…, Backspace, Del, PgUp…, F1…
#include "backends/kwin/kwin_keys.h"

#include <array>
#include <cctype>
#include <vector>

#include "backends/system/key_table.h"

namespace tolvane::kwin {

namespace {

constexpr int kShift = 0x02000000, kCtrl = 0x04000000, kAlt = 0x08000000, kMeta = 0x10000000;
constexpr int kTab = 0x01000001, kBacktab = 0x01000002, kAsciiTilde = 0x7e;

struct Modifier {
  std::string_view sway, kwin;
  int bit;
};
// In the order Qt writes them.
constexpr std::array<Modifier, 8> kModifiers = {{
    {"Mod4", "Meta", kMeta},
    {"Super", "Meta", kMeta},
    {"Meta", "Meta", kMeta},
    {"Ctrl", "Ctrl", kCtrl},
    {"Control", "Ctrl", kCtrl},
    {"Mod1", "Alt", kAlt},
    {"Alt", "Alt", kAlt},
    {"Shift", "Shift", kShift},
}};

struct NamedKey {
  std::string_view sway, kwin;
  int qtKey;
};
constexpr std::array<NamedKey, 28> kNamedKeys = {{
    {"space", "Space", 0x20},
    {"Tab", "Tab", kTab},
    {"grave", "`", '`'},
    {"Return", "Return", 0x01000004},
    {"KP_Enter", "Enter", 0x01000005},
    {"Escape", "Esc", 0x01000000},
    {"BackSpace", "Backspace", 0x01000003},
    {"Delete", "Del", 0x01000007},
    {"Home", "Home", 0x01000010},
    {"End", "End", 0x01000011},
    {"Left", "Left", 0x01000012},
    {"Up", "Up", 0x01000013},
    {"Right", "Right", 0x01000014},
    {"Down", "Down", 0x01000015},
    {"Prior", "PgUp", 0x01000016},
    {"Next", "PgDown", 0x01000017},
    {"F1", "F1", 0x01000030},
    {"F2", "F2", 0x01000031},
    {"F3", "F3", 0x01000032},
    {"F4", "F4", 0x01000033},
    {"F5", "F5", 0x01000034},
    {"F6", "F6", 0x01000035},
    {"F7", "F7", 0x01000036},
    {"F8", "F8", 0x01000037},
    {"F9", "F9", 0x01000038},
    {"F10", "F10", 0x01000039},
    {"F11", "F11", 0x0100003a},
    {"F12", "F12", 0x0100003b},
}};

std::vector<std::string_view> split(std::string_view combo) {
  std::vector<std::string_view> parts;
  while (true) {
    const auto plus = combo.find('+');
    parts.push_back(combo.substr(0, plus));
    if (plus == std::string_view::npos) return parts;
    combo.remove_prefix(plus + 1);
  }
}

struct Key {
  std::string name;
  int qtKey;
};

/// The key's name and number, without modifiers.
std::optional<Key> keyOf(std::string_view swayName) {
  for (const auto& key : kNamedKeys) {
    if (key.sway == swayName) return Key{std::string(key.kwin), key.qtKey};
  }
  const system::KeyEntry* entry = system::keyEntryForName(swayName);
  // Printable ASCII only; a comma would read as the separator of a key sequence's parts.
  if (!entry || entry->keysym <= 0x20 || entry->keysym >= 0x7f || entry->keysym == ',') {
    return std::nullopt;
  }
  const char c = static_cast<char>(std::toupper(static_cast<int>(entry->keysym)));
  return Key{std::string(1, c), c};
}

}  // namespace

std::optional<KWinShortcut> kwinShortcutOf(std::string_view swayCombo) {
  const auto parts = split(swayCombo);
  int bits = 0;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const Modifier* found = nullptr;
    for (const auto& modifier : kModifiers) {
      if (modifier.sway == parts[i]) found = &modifier;
    }
    if (!found) return std::nullopt;
    bits |= found->bit;
  }
  auto key = keyOf(parts.back());
  if (!key) return std::nullopt;
  if ((bits & kShift) && key->qtKey == kTab) {
    key = Key{"Backtab", kBacktab};
  } else if ((bits & kShift) && key->qtKey == '`') {
    key = Key{"~", kAsciiTilde};
    bits &= ~kShift;
  }
  KWinShortcut shortcut{.qtKey = bits | key->qtKey};
  for (const auto& modifier : kModifiers) {
    // Each modifier once, under its first alias.
    if ((bits & modifier.bit) && shortcut.sequence.find(modifier.kwin) == std::string::npos) {
      shortcut.sequence += std::string(modifier.kwin) + "+";
    }
  }
  shortcut.sequence += key->name;
  return shortcut;
}

}  // namespace tolvane::kwin
