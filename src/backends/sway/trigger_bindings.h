// Which compositor bindings Tolvane's settings ask for, in sway's syntax: the switcher's
// triggers and the palette's hot key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backends/sway/sway_bindings.h"

namespace tolvane::sway {

/// The settings that decide which combinations the switcher takes.
struct TriggerSettings {
  bool interceptTab = false;
  bool interceptKeyAboveTab = false;
  /// Alt drives the switcher instead of Super.
  bool triggerIsOption = false;
};

/// Each chosen key with the trigger modifier, with and without Shift.
std::vector<Binding> triggerBindings(const TriggerSettings& settings);

/// A product key with modifiers in the hot-key encoding (Command 256, Shift 512, Option 2048,
/// Control 4096) as sway names it ("Mod1+space"); nothing for a key sway cannot name.
std::optional<std::string> comboOf(std::uint16_t keyCode, std::uint32_t modifiers);

/// The lines a sway configuration needs for Tolvane's default keys, each binding running the
/// front door's trigger command.
std::string configurationLines();

}  // namespace tolvane::sway
