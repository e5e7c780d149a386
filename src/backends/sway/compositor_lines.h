// The lines each compositor's configuration needs so that its key bindings run the front
// door's trigger command, for the compositors whose bindings Tolvane cannot install itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/sway/sway_bindings.h"

namespace tolvane::sway {

/// The compositors `tolvane --print-bindings` writes lines for, as it names them.
inline constexpr std::string_view kCompositors[] = {"sway", "hyprland", "wayfire", "labwc",
                                                    "river"};

/// kCompositors as a usage line names them: "sway|hyprland|…".
std::string compositorChoices();

/// The lines that bind each of `bindings` (combinations in sway's spelling, "Mod4+Shift+Tab")
/// to `tolvane trigger WORD` in `compositor`'s configuration syntax; nothing for a compositor
/// not in kCompositors, or when a combination has a key `compositor` cannot name.
std::optional<std::string> compositorLines(std::string_view compositor,
                                           const std::vector<Binding>& bindings);

/// The compositor that XDG_CURRENT_DESKTOP names (a colon-separated list, in any case), when it
/// is one of kCompositors.
std::optional<std::string_view> compositorOfDesktop(std::string_view currentDesktop);

/// What a user is told at start on a compositor whose bindings Tolvane cannot install: which
/// `tolvane --print-bindings` to run, for the compositor XDG_CURRENT_DESKTOP names when it
/// names one, else with the choices.
std::string manualBindingsNotice(std::string_view currentDesktop);

}  // namespace tolvane::sway
