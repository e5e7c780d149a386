// The product's keys and the XKB keysyms that type them: one table for every desktop whose
// keyboard is described by XKB (X11, Wayland), and the keys the product names by position.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::system {

/// The product key code given to keys the translation table does not know.
inline constexpr std::uint16_t kUnknownKeyCode = 0xffff;

/// One product key: its code, the keysym its key types unshifted, and the keysym's name (the
/// name X11 and sway's bindings use).
struct KeyEntry {
  std::uint16_t keyCode;
  std::uint32_t keysym;
  const char* name;
};

const KeyEntry* keyEntryForCode(std::uint16_t keyCode);
const KeyEntry* keyEntryForKeysym(std::uint32_t keysym);
/// The entry a keysym name names exactly ("Tab", "grave", "a").
const KeyEntry* keyEntryForName(std::string_view name);

/// The XKB keycode (evdev + 8) of the key above Tab, TLDE.
inline constexpr std::uint32_t kKeyAboveTabXkbKeycode = 49;
/// Whether the key at this XKB keycode is named by its position (the key above Tab, the digit
/// row) rather than by what it types.
bool isPositionalXkbKeycode(std::uint32_t xkbKeycode);
/// The XKB keycode of a product key named by position; nothing for the others.
std::optional<std::uint32_t> positionalXkbKeycode(std::uint16_t keyCode);
/// The product key at a positional XKB keycode; nothing for the others.
std::optional<std::uint16_t> positionalKeyCode(std::uint32_t xkbKeycode);

/// The product flags of a modifier mask in the hot-key encoding (Command 256, Shift 512,
/// Option 2048, Control 4096); other bits are ignored.
std::uint64_t flagsFromHotKeyModifiers(std::uint32_t modifiers);

/// A combination as logs name it, modifiers first: "Super+Shift+Tab", "Alt+space".
std::string combinationName(std::uint16_t keyCode, std::uint64_t flags);

}  // namespace tolvane::system
