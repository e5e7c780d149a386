// Choosing the keyring or the private file, once, at start-up.
#include "backends/system/secret_store_choice.h"

#include <utility>

#include "backends/system/file_secret_store.h"
#include "backends/system/secret_service_store.h"

namespace tolvane::system {

std::string secretFilePath(const UserPaths& paths, const BundleInfo& bundle) {
  return paths.dataHome + "/" + bundle.identifier + "/secrets.json";
}

std::unique_ptr<SecretStore> makeSecretStore(const BundleInfo& bundle, const UserPaths& paths,
                                             std::vector<std::string> accounts, FileSystem& files,
                                             std::uint32_t uid, DebugLog& log) {
  const auto diagnostic = [&log](const std::string& line) { log.log(line); };
  std::string whyNot;
  auto keyring = SecretServiceStore::open(
      {.schemaName = bundle.identifier, .accounts = std::move(accounts), .diagnostic = diagnostic},
      whyNot);
  if (keyring) {
    log.log("secret store keyring schema=" + bundle.identifier);
    return keyring;
  }
  const std::string path = secretFilePath(paths, bundle);
  log.notice("secrets not in a keyring reason=" + whyNot + "; kept in " + path +
             ", readable by this user only");
  return std::make_unique<FileSecretStore>(files, path, uid, diagnostic);
}

}  // namespace tolvane::system
