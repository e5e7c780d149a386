// A file system seam for tests: passes calls to a real file system until told to fail some.
#pragma once

#include <memory>

#include "base/files.h"

namespace tolvane::sim {

/// Wraps `inner` and fails the chosen operations, as a full disk, a read-only folder or a
/// process killed between two steps would.
class FaultyFileSystem final : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& inner) : inner_(inner) {}

  /// writeFileSynced and writeNewTemporaryFile fail (nothing is written, as on a full disk).
  bool failWrites = false;
  /// rename fails, leaving the source in place: a crash between writing and renaming.
  bool failRenames = false;
  /// Appends to open files fail.
  bool failAppends = false;
  /// openForAppend and createDirectories fail (an unwritable folder).
  bool failCreates = false;
  /// Operations refused so far.
  int refusals = 0;

  bool exists(const std::string& path) const override { return inner_.exists(path); }
  bool isDirectory(const std::string& path) const override { return inner_.isDirectory(path); }
  bool createDirectories(const std::string& path) override;
  std::optional<std::string> readFile(const std::string& path) const override {
    return inner_.readFile(path);
  }
  BoundedRead readRegularFile(const std::string& path, std::size_t maxBytes) const override {
    return inner_.readRegularFile(path, maxBytes);
  }
  bool writeFileSynced(const std::string& path, std::string_view bytes) override;
  std::optional<std::string> writeNewTemporaryFile(const std::string& besidePath,
                                                   std::string_view bytes) override;
  std::unique_ptr<AppendFile> openForAppend(const std::string& path) override;
  std::optional<LinkFacts> linkFacts(const std::string& path) const override {
    return inner_.linkFacts(path);
  }
  std::optional<std::string> linkTarget(const std::string& path) const override {
    return inner_.linkTarget(path);
  }
  bool rename(const std::string& from, const std::string& to) override;
  bool remove(const std::string& path) override { return inner_.remove(path); }

 private:
  FileSystem& inner_;
};

}  // namespace tolvane::sim
