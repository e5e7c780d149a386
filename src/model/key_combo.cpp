// The key-name table and the conversions around it.
#include "model/key_combo.h"

#include <algorithm>

#include "platform/event_tap.h"

namespace tolvane::keycombo {

namespace {

struct NamedKey {
  std::uint32_t keyCode;
  /// The name as the desktop writes it in shortcuts.
  std::string_view name;
  /// The character a menu entry stands for the key with, where the name is a word; the tray
  /// turns these characters back into keys.
  std::string_view menuCharacter = {};
};

constexpr NamedKey kNamedKeys[] = {
    {49, "Space", " "},
    // Editing and navigation keys.
    {36, "Return", "↩"},
    {48, "Tab", "⇥"},
    {53, "Esc"},
    {51, "Backspace", "⌫"},
    {117, "Delete", "⌦"},
    {123, "Left", "←"},
    {124, "Right", "→"},
    {126, "Up", "↑"},
    {125, "Down", "↓"},
    {115, "Home", "↖"},
    {119, "End", "↘"},
    {116, "Page Up", "⇞"},
    {121, "Page Down", "⇟"},
    // Punctuation.
    {50, "`"},
    {27, "-"},
    {24, "="},
    {33, "["},
    {30, "]"},
    {42, "\\"},
    {41, ";"},
    {39, "'"},
    {43, ","},
    {47, "."},
    {44, "/"},
    // Letters: the codes are positions on the ANSI keyboard, hence the jumbled order.
    {0, "A"},
    {11, "B"},
    {8, "C"},
    {2, "D"},
    {14, "E"},
    {3, "F"},
    {5, "G"},
    {4, "H"},
    {34, "I"},
    {38, "J"},
    {40, "K"},
    {37, "L"},
    {46, "M"},
    {45, "N"},
    {31, "O"},
    {35, "P"},
    {12, "Q"},
    {15, "R"},
    {1, "S"},
    {17, "T"},
    {32, "U"},
    {9, "V"},
    {13, "W"},
    {7, "X"},
    {16, "Y"},
    {6, "Z"},
    // Digits.
    {29, "0"},
    {18, "1"},
    {19, "2"},
    {20, "3"},
    {21, "4"},
    {23, "5"},
    {22, "6"},
    {26, "7"},
    {28, "8"},
    {25, "9"},
    // Function keys.
    {122, "F1"},
    {120, "F2"},
    {99, "F3"},
    {118, "F4"},
    {96, "F5"},
    {97, "F6"},
    {98, "F7"},
    {100, "F8"},
    {101, "F9"},
    {109, "F10"},
    {103, "F11"},
    {111, "F12"},
};
static_assert(std::size(kNamedKeys) == kNamedKeyCount);

const NamedKey* namedKey(std::uint32_t keyCode) {
  const auto it = std::find_if(std::begin(kNamedKeys), std::end(kNamedKeys),
                               [&](const NamedKey& key) { return key.keyCode == keyCode; });
  return it == std::end(kNamedKeys) ? nullptr : it;
}

}  // namespace

std::optional<std::string_view> keyName(std::uint32_t keyCode) {
  const NamedKey* key = namedKey(keyCode);
  if (!key) return std::nullopt;
  return key->name;
}

std::uint32_t carbonFlags(std::uint64_t eventFlags) {
  std::uint32_t mask = 0;
  if (eventFlags & eventflags::kControl) mask |= hotkeymask::kControl;
  if (eventFlags & eventflags::kOption) mask |= hotkeymask::kOption;
  if (eventFlags & eventflags::kShift) mask |= hotkeymask::kShift;
  if (eventFlags & eventflags::kCommand) mask |= hotkeymask::kCommand;
  return mask;
}

std::vector<std::string> symbols(std::uint32_t keyCode, std::uint32_t carbonMask) {
  std::vector<std::string> parts;
  if (carbonMask & hotkeymask::kControl) parts.emplace_back("Ctrl");
  if (carbonMask & hotkeymask::kOption) parts.emplace_back("Alt");
  if (carbonMask & hotkeymask::kShift) parts.emplace_back("Shift");
  if (carbonMask & hotkeymask::kCommand) parts.emplace_back("Super");
  parts.emplace_back(keyName(keyCode).value_or("?"));
  return parts;
}

std::optional<std::string> keyEquivalent(std::uint32_t keyCode) {
  const NamedKey* key = namedKey(keyCode);
  if (!key) return std::nullopt;
  if (!key->menuCharacter.empty()) return std::string(key->menuCharacter);
  // Letters, digits and punctuation stand for themselves, letters in lower case; longer names
  // (Esc, the function keys) have no menu character.
  if (key->name.size() != 1) return std::nullopt;
  const char c = key->name[0];
  return std::string(1, c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
}

}  // namespace tolvane::keycombo
