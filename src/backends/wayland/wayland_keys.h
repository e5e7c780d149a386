// Keys at the Wayland edge: XKB keycodes, keysyms and modifier masks as the product's key
// events.
#pragma once

#include <cstdint>

#include "backends/wayland/session_keyboard.h"
#include "platform/event_tap.h"

namespace tolvane::wayland {

/// The product key of a key: the positional keys (the digit row, the key above Tab) by their
/// XKB keycode, the others by the keysym they type unshifted; system::kUnknownKeyCode for keys
/// outside the table.
std::uint16_t productKeyCode(std::uint32_t xkbKeycode, std::uint32_t keysym);

/// The product flags of the modifiers the compositor reports.
std::uint64_t productFlags(const HeldModifiers& held);

/// A key press in one of Tolvane's own windows, as Qt's Wayland plugin reports it: the XKB
/// keycode, the modifier mask of the usual keymaps (Shift 1, Control 4, Mod1 8, Mod4 64) and
/// the keysym.
KeyEvent keyDownOf(std::uint32_t xkbKeycode, std::uint32_t modifierMask, std::uint32_t keysym);

}  // namespace tolvane::wayland
