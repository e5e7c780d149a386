// The secret store where no keyring answers: one JSON file that only the user can read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "base/files.h"
#include "platform/secret_store.h"

namespace tolvane::system {

/// Secret files larger than this are set aside unread; four accounts take a few kilobytes.
inline constexpr std::size_t kMaxSecretFileBytes = 1024 * 1024;

/// Secrets in one JSON object of account → value at `path`, rewritten atomically on every
/// change: the folder is created 0700, the file 0600 (a temporary sibling, fsync, rename).
/// Thread-safe.
///
/// The file is read once, at construction. One that is not a regular file, belongs to another
/// user, or is open to group or others, or a folder that others may write to, is refused: the
/// store starts empty and keeps changes in memory only, so such a file is never read or
/// overwritten. A file that is not one JSON object (torn, garbage, too large) is moved to
/// "<path>.corrupt" and the store starts empty; members that are not text are dropped.
class FileSecretStore final : public SecretStore {
 public:
  /// Receives one line per noteworthy event; never a secret value.
  using Diagnostic = std::function<void(const std::string& line)>;

  /// Loads `path` at once; `uid` is the user the file and folder must belong to.
  FileSecretStore(FileSystem& files, std::string path, std::uint32_t uid, Diagnostic diagnostic);
  FileSecretStore(const FileSecretStore&) = delete;
  FileSecretStore& operator=(const FileSecretStore&) = delete;

  std::optional<std::string> get(const std::string& account) override;
  /// Refuses (and logs) an account or value past the limits of secret_values.h.
  void set(const std::string& account, const std::string& value) override;
  void remove(const std::string& account) override;

  /// False when changes can no longer reach the file (see the class comment).
  bool persists() const;
  const std::string& path() const { return path_; }

 private:
  void load();
  std::optional<std::string> refusal() const;
  void setAside(const std::string& reason);
  void adopt(const std::string& text);
  // The diagnostic line to emit once the lock is released, when the save failed.
  std::optional<std::string> saveLocked();
  void diagnose(const std::string& line) const;

  FileSystem& files_;
  const std::string path_;
  const std::uint32_t uid_;
  const Diagnostic diagnostic_;

  mutable std::mutex lock_;
  std::map<std::string, std::string> secrets_;
  bool persists_ = true;
};

}  // namespace tolvane::system
