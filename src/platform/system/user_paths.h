// The XDG base directories of the user running Tolvane.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/system_info.h"

namespace tolvane::system {

/// Resolves the XDG folders from an environment lookup: $XDG_CONFIG_HOME, else $HOME/.config;
/// $XDG_DATA_HOME, else $HOME/.local/share. Relative XDG values are ignored, as the XDG base
/// directory rules require.
UserPaths resolveUserPaths(
    const std::function<std::optional<std::string>(const std::string&)>& getenv);

/// The same, from this process's environment.
UserPaths currentUserPaths();

}  // namespace tolvane::system
