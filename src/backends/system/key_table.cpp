// The product's key table and the positional keys.
#include "backends/system/key_table.h"

#include <algorithm>
#include <iterator>

#include "model/key_codes.h"
#include "platform/event_tap.h"

namespace tolvane::system {

namespace {

/// The digit row, 1 to 9 then 0 (evdev AE01..AE10). A session picks rows by position: French
/// AZERTY types "&", "é", ... there unshifted, and its users still press the key marked 1.
constexpr std::uint32_t kDigitRowXkbKeycodes[] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
constexpr std::uint16_t kDigitRowKeyCodes[] = {18, 19, 20, 21, 23, 22, 26, 28, 25, 29};

// Product key codes come from the ANSI layout of the product's home platform; keysyms and names
// are the X ones (X11/keysymdef.h). Letters and digits use the unshifted keysym of their key.
constexpr KeyEntry kKeys[] = {
    // Letters.
    {0, 'a', "a"},
    {11, 'b', "b"},
    {8, 'c', "c"},
    {2, 'd', "d"},
    {14, 'e', "e"},
    {3, 'f', "f"},
    {5, 'g', "g"},
    {4, 'h', "h"},
    {34, 'i', "i"},
    {38, 'j', "j"},
    {40, 'k', "k"},
    {37, 'l', "l"},
    {46, 'm', "m"},
    {45, 'n', "n"},
    {31, 'o', "o"},
    {35, 'p', "p"},
    {12, 'q', "q"},
    {15, 'r', "r"},
    {1, 's', "s"},
    {17, 't', "t"},
    {32, 'u', "u"},
    {9, 'v', "v"},
    {13, 'w', "w"},
    {7, 'x', "x"},
    {16, 'y', "y"},
    {6, 'z', "z"},
    // Digits; the product's own table holds 1 to 9 in this order.
    {18, '1', "1"},
    {19, '2', "2"},
    {20, '3', "3"},
    {21, '4', "4"},
    {23, '5', "5"},
    {22, '6', "6"},
    {26, '7', "7"},
    {28, '8', "8"},
    {25, '9', "9"},
    {29, '0', "0"},
    // Punctuation a hot key may use.
    {27, '-', "minus"},
    {24, '=', "equal"},
    {33, '[', "bracketleft"},
    {30, ']', "bracketright"},
    {42, '\\', "backslash"},
    {41, ';', "semicolon"},
    {39, '\'', "apostrophe"},
    {43, ',', "comma"},
    {47, '.', "period"},
    {44, '/', "slash"},
    // Keys a session reacts to, and editing keys.
    {48, 0xff09, "Tab"},
    {36, 0xff0d, "Return"},
    {76, 0xff8d, "KP_Enter"},
    {53, 0xff1b, "Escape"},
    {49, ' ', "space"},
    {123, 0xff51, "Left"},
    {126, 0xff52, "Up"},
    {124, 0xff53, "Right"},
    {125, 0xff54, "Down"},
    {51, 0xff08, "BackSpace"},
    {117, 0xffff, "Delete"},
    {115, 0xff50, "Home"},
    {119, 0xff57, "End"},
    {116, 0xff55, "Prior"},
    {121, 0xff56, "Next"},
    // Function keys.
    {122, 0xffbe, "F1"},
    {120, 0xffbf, "F2"},
    {99, 0xffc0, "F3"},
    {118, 0xffc1, "F4"},
    {96, 0xffc2, "F5"},
    {97, 0xffc3, "F6"},
    {98, 0xffc4, "F7"},
    {100, 0xffc5, "F8"},
    {101, 0xffc6, "F9"},
    {109, 0xffc7, "F10"},
    {103, 0xffc8, "F11"},
    {111, 0xffc9, "F12"},
    // Modifiers: Command is Super, Option is Alt.
    {56, 0xffe1, "Shift_L"},
    {60, 0xffe2, "Shift_R"},
    {59, 0xffe3, "Control_L"},
    {62, 0xffe4, "Control_R"},
    {57, 0xffe5, "Caps_Lock"},
    {58, 0xffe9, "Alt_L"},
    {61, 0xffea, "Alt_R"},
    {55, 0xffeb, "Super_L"},
    {54, 0xffec, "Super_R"},
};

}  // namespace

const KeyEntry* keyEntryForCode(std::uint16_t keyCode) {
  const auto it = std::find_if(std::begin(kKeys), std::end(kKeys),
                               [&](const KeyEntry& entry) { return entry.keyCode == keyCode; });
  return it == std::end(kKeys) ? nullptr : it;
}

const KeyEntry* keyEntryForName(std::string_view name) {
  const auto it = std::find_if(std::begin(kKeys), std::end(kKeys),
                               [&](const KeyEntry& entry) { return entry.name == name; });
  return it == std::end(kKeys) ? nullptr : it;
}

const KeyEntry* keyEntryForKeysym(std::uint32_t keysym) {
  const auto it = std::find_if(std::begin(kKeys), std::end(kKeys),
                               [&](const KeyEntry& entry) { return entry.keysym == keysym; });
  return it == std::end(kKeys) ? nullptr : it;
}

bool isPositionalXkbKeycode(std::uint32_t xkbKeycode) {
  return positionalKeyCode(xkbKeycode).has_value();
}

std::optional<std::uint32_t> positionalXkbKeycode(std::uint16_t keyCode) {
  if (keyCode == keycode::kKeyAboveTab) return kKeyAboveTabXkbKeycode;
  for (std::size_t i = 0; i < std::size(kDigitRowKeyCodes); ++i) {
    if (kDigitRowKeyCodes[i] == keyCode) return kDigitRowXkbKeycodes[i];
  }
  return std::nullopt;
}

std::optional<std::uint16_t> positionalKeyCode(std::uint32_t xkbKeycode) {
  if (xkbKeycode == kKeyAboveTabXkbKeycode) return keycode::kKeyAboveTab;
  if (xkbKeycode >= kDigitRowXkbKeycodes[0] && xkbKeycode <= std::end(kDigitRowXkbKeycodes)[-1]) {
    return kDigitRowKeyCodes[xkbKeycode - kDigitRowXkbKeycodes[0]];
  }
  return std::nullopt;
}

std::uint64_t flagsFromHotKeyModifiers(std::uint32_t modifiers) {
  std::uint64_t flags = 0;
  if (modifiers & 256) flags |= eventflags::kCommand;
  if (modifiers & 512) flags |= eventflags::kShift;
  if (modifiers & 2048) flags |= eventflags::kOption;
  if (modifiers & 4096) flags |= eventflags::kControl;
  return flags;
}

std::string combinationName(std::uint16_t keyCode, std::uint64_t flags) {
  std::string name;
  if (flags & eventflags::kControl) name += "Control+";
  if (flags & eventflags::kOption) name += "Alt+";
  if (flags & eventflags::kCommand) name += "Super+";
  if (flags & eventflags::kShift) name += "Shift+";
  if (keyCode == keycode::kKeyAboveTab) return name + "key above Tab";
  if (const KeyEntry* entry = keyEntryForCode(keyCode)) return name + entry->name;
  return name + "key " + std::to_string(keyCode);
}

}  // namespace tolvane::system
