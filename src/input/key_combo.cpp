// The key-name table and the conversions around it.
#include "input/key_combo.h"

#include <algorithm>

#include "platform/event_tap.h"

namespace tolvane::keycombo {

namespace {

struct NamedKey {
  std::uint32_t keyCode;
  std::string_view name;
};

constexpr NamedKey kNamedKeys[] = {
    {49, "Space"},
    // Editing and navigation keys.
    {36, "↩"},
    {48, "⇥"},
    {53, "esc"},
    {51, "⌫"},
    {117, "⌦"},
    {123, "←"},
    {124, "→"},
    {126, "↑"},
    {125, "↓"},
    {115, "↖"},
    {119, "↘"},
    {116, "⇞"},
    {121, "⇟"},
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

/// Whether a UTF-8 name is exactly one character.
bool isOneCharacter(std::string_view name) {
  if (name.empty()) return false;
  const auto lead = static_cast<unsigned char>(name[0]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
  return name.size() == length;
}

}  // namespace

std::optional<std::string_view> keyName(std::uint32_t keyCode) {
  const auto it = std::find_if(std::begin(kNamedKeys), std::end(kNamedKeys),
                               [&](const NamedKey& key) { return key.keyCode == keyCode; });
  if (it == std::end(kNamedKeys)) return std::nullopt;
  return it->name;
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
  if (carbonMask & hotkeymask::kControl) parts.emplace_back("⌃");
  if (carbonMask & hotkeymask::kOption) parts.emplace_back("⌥");
  if (carbonMask & hotkeymask::kShift) parts.emplace_back("⇧");
  if (carbonMask & hotkeymask::kCommand) parts.emplace_back("⌘");
  parts.emplace_back(keyName(keyCode).value_or("?"));
  return parts;
}

std::optional<std::string> keyEquivalent(std::uint32_t keyCode) {
  if (keyCode == 49) return " ";
  const auto name = keyName(keyCode);
  if (!name || !isOneCharacter(*name)) return std::nullopt;
  // Only ASCII letters have a case here; arrows and other symbols come back unchanged.
  std::string lowered(*name);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

}  // namespace tolvane::keycombo
