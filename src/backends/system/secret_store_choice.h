// Where the secrets live on this machine: the keyring when one answers, else a private file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/files.h"
#include "diagnostics/debug_log.h"
#include "platform/secret_store.h"
#include "platform/system_info.h"

namespace tolvane::system {

/// The fallback file of `bundle` under `paths`: "<dataHome>/<identifier>/secrets.json".
std::string secretFilePath(const UserPaths& paths, const BundleInfo& bundle);

/// The Secret Service's store (schema = the bundle identifier, `accounts` read at once) when a
/// service with a default collection answers on the session bus within two seconds; otherwise
/// the file store at secretFilePath(), with one notice in `log` saying that the secrets are not
/// in a keyring, why, and where they are. `files` and `log` must outlive the store.
std::unique_ptr<SecretStore> makeSecretStore(const BundleInfo& bundle, const UserPaths& paths,
                                             std::vector<std::string> accounts, FileSystem& files,
                                             std::uint32_t uid, DebugLog& log);

}  // namespace tolvane::system
