// Where the running program lives, for entries that must start it again.
#pragma once

#include <optional>
#include <string>

namespace tolvane::system {

/// The absolute path of this process's executable (the target of /proc/self/exe), or nothing
/// when it cannot be read.
std::optional<std::string> executablePath();

}  // namespace tolvane::system
