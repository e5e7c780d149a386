// Key combinations in the stored hot-key encoding: the names of the keys a hot key may use, the
// modifier mask of event flags, and how a combination is shown as chips or a menu shortcut.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

/// The modifier mask of a hot key (Carbon encoding), as stored in "paletteModifiers".
namespace hotkeymask {
inline constexpr std::uint32_t kCommand = 256;
inline constexpr std::uint32_t kShift = 512;
inline constexpr std::uint32_t kOption = 2048;
inline constexpr std::uint32_t kControl = 4096;
}  // namespace hotkeymask

namespace keycombo {

/// How many keys have a name; a hot key may use only these.
inline constexpr std::size_t kNamedKeyCount = 73;

/// The display name of a product key code, or nothing for a key without a name.
std::optional<std::string_view> keyName(std::uint32_t keyCode);

/// The hot-key mask of event flags: Control, Option, Shift and Command; every other flag
/// (Caps Lock, Function, device bits) is dropped.
std::uint32_t carbonFlags(std::uint64_t eventFlags);

/// "Ctrl", "Alt", "Shift", "Super" for the modifiers present, in that order, then the key's name
/// ("K", "Space", "Page Up"), or "?" for a key without one.
std::vector<std::string> symbols(std::uint32_t keyCode, std::uint32_t carbonMask);

/// The key equivalent of a menu entry for the key: " " for Space, a symbol for the editing and
/// navigation keys ("↩", "⇥", "←", "⇞"…), a one-character name lower-cased, nothing for "Esc",
/// the function keys and unnamed keys.
std::optional<std::string> keyEquivalent(std::uint32_t keyCode);

}  // namespace keycombo
}  // namespace tolvane
