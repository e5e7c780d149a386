// The XDG base directories of the user running Tolvane, and the private runtime folder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/files.h"
#include "platform/system_info.h"

namespace tolvane::system {

/// Looks up one environment variable.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;

/// Resolves the XDG folders from an environment lookup: $XDG_CONFIG_HOME, else $HOME/.config;
/// $XDG_DATA_HOME, else $HOME/.local/share. Relative XDG values are ignored, as the XDG base
/// directory rules require.
UserPaths resolveUserPaths(const EnvironmentLookup& getenv);

/// The same, from this process's environment.
UserPaths currentUserPaths();

/// Why `path` is not a private folder of `uid`: missing, a symbolic link (lstat, never
/// followed), not a folder, owned by someone else, or open to group or others. Nothing when it
/// is one.
std::optional<std::string> privateFolderProblem(const FileSystem& files, const std::string& path,
                                                std::uint32_t uid);

/// The folder for the instance lock and socket, where no other user can place a file or a link
/// first: $XDG_RUNTIME_DIR when it is a private folder of `uid`; otherwise
/// "<$TMPDIR or /tmp>/tolvane-<uid>", created 0700 when missing and held to the same checks.
/// `message` says why $XDG_RUNTIME_DIR was passed over, or why no folder can be used (then the
/// result is empty); it stays empty otherwise.
std::optional<std::string> chooseRuntimeFolder(const EnvironmentLookup& getenv, FileSystem& files,
                                               std::uint32_t uid, std::string& message);

/// The same for this process: its environment, its real user, the real file system.
std::optional<std::string> currentRuntimeFolder(std::string& message);

}  // namespace tolvane::system
