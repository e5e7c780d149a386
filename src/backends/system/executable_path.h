// Where the running program lives, for entries that must start it again.
#pragma once

#include <optional>
#include <string>

namespace tolvane::system {

/// The absolute path of this process's executable (the target of /proc/self/exe), or nothing
/// when it cannot be read.
std::optional<std::string> executablePath();

/// The executable `name` in `folder` relative to this executable's own folder (an installed
/// layout), else beside this executable (a build tree), else nothing.
std::optional<std::string> companionProgram(const std::string& folder, const std::string& name);

}  // namespace tolvane::system
