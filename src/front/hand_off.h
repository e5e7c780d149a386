// A tolvane:// link handed to the instance that runs on this display, and what the user is told
// when it does not get there.
#pragma once

#include <optional>
#include <string>

#include "backends/system/single_instance.h"

namespace tolvane::front {

/// The exit status for a hand-off's outcome, after saying on standard error why the link did
/// not get there; nothing when no instance listened, so that the caller decides what follows.
std::optional<int> handOffStatus(system::SingleInstance::HandOff outcome);

/// Hands `url` to the Tolvane running on this session's display. Nothing when none runs there,
/// or when there is no display or runtime folder to look in: starting one is the caller's
/// choice, and it reports those itself.
std::optional<int> handOffToRunning(const std::string& url, bool forceX11 = false);

}  // namespace tolvane::front
