// The system's own switcher hotkeys that Tolvane may suppress while it is in charge, and the
// restore that gives all of them back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>

#include "platform/window_server.h"

namespace tolvane {

/// Raw values are the window server's hotkey numbers.
enum class SymbolicHotKey : std::int32_t {
  commandTab = 1,
  commandShiftTab = 2,
  commandKeyAboveTab = 6,
};

/// In the order the guard walks them.
inline constexpr std::array<SymbolicHotKey, 3> kSymbolicHotKeys = {
    SymbolicHotKey::commandTab, SymbolicHotKey::commandShiftTab,
    SymbolicHotKey::commandKeyAboveTab};

using SymbolicHotKeySet = std::set<SymbolicHotKey>;

/// The hotkey with this raw value, if it is one the guard manages.
std::optional<SymbolicHotKey> symbolicHotKey(std::int32_t raw);

/// Enables hotkeys 1, 2 and 6, in that order, when the setter exists; otherwise nothing. Safe
/// from a signal handler as long as the window server's setter is.
void restoreAllSymbolicHotKeys(WindowServer& windowServer);

}  // namespace tolvane
