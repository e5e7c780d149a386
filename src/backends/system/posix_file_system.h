// The real file system, through POSIX calls.
#pragma once

#include "base/files.h"

namespace tolvane::system {

class PosixFileSystem final : public FileSystem {
 public:
  bool exists(const std::string& path) const override;
  bool isDirectory(const std::string& path) const override;
  bool createDirectories(const std::string& path) override;
  std::optional<std::string> readFile(const std::string& path) const override;
  BoundedRead readRegularFile(const std::string& path, std::size_t maxBytes) const override;
  bool writeFileSynced(const std::string& path, std::string_view bytes) override;
  std::optional<std::string> writeNewTemporaryFile(const std::string& besidePath,
                                                   std::string_view bytes) override;
  std::unique_ptr<AppendFile> openForAppend(const std::string& path) override;
  std::optional<LinkFacts> linkFacts(const std::string& path) const override;
  std::optional<std::string> linkTarget(const std::string& path) const override;
  bool rename(const std::string& from, const std::string& to) override;
  bool remove(const std::string& path) override;
};

}  // namespace tolvane::system
