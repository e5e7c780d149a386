// The file system seam: every file the core touches goes through it, so tests can inject a full
// disk, an unwritable folder or a crash between two steps of a save.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

/// An open file that is appended to. Closing happens on destruction.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  /// Appends all of `bytes`; false on any error (the file may then hold a partial line).
  virtual bool append(std::string_view bytes) = 0;
  /// The current end of the file, or nothing when it cannot be told.
  virtual std::optional<std::uint64_t> endOffset() = 0;
};

/// Plain file operations on absolute paths. Failures are results, never exceptions.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual bool exists(const std::string& path) const = 0;
  virtual bool isDirectory(const std::string& path) const = 0;
  /// Creates the folder and every missing parent; true when it exists afterwards.
  virtual bool createDirectories(const std::string& path) = 0;
  /// The whole content, or nothing when the file cannot be read.
  virtual std::optional<std::string> readFile(const std::string& path) const = 0;
  /// Creates or truncates `path`, writes `bytes` and flushes them to the disk (fsync).
  virtual bool writeFileSynced(const std::string& path, std::string_view bytes) = 0;
  /// Opens `path` for appending, creating it empty when missing.
  virtual std::unique_ptr<AppendFile> openForAppend(const std::string& path) = 0;
  /// Atomically replaces `to` with `from` (rename(2)).
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  virtual bool remove(const std::string& path) = 0;
};

/// The folder that holds `path`: "/a/b" for "/a/b/c", "/" for "/c", "." for a bare name.
std::string parentFolder(const std::string& path);

/// Replaces `path` with `bytes` so that a crash at any moment leaves either the old or the new
/// content, never a partial or empty file: write a temporary sibling, fsync, rename over.
bool writeFileAtomically(FileSystem& fs, const std::string& path, std::string_view bytes);

}  // namespace tolvane
