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

/// Why a bounded read gave no content.
enum class ReadFailure {
  /// Nothing at the path (a dangling link included).
  missing,
  /// A folder, FIFO, socket or device: nothing to read as a whole.
  notRegularFile,
  /// A regular file holding more than the bytes the caller accepts.
  tooLarge,
  /// Anything else: permissions, an I/O error, a loop of links.
  unreadable,
};

/// The whole content of a regular file, or why there is none.
struct BoundedRead {
  std::optional<std::string> content;
  /// Meaningful only when `content` is empty.
  ReadFailure failure = ReadFailure::unreadable;
};

/// What lstat(2) tells about a name: a symbolic link is reported as a link, never followed.
struct LinkFacts {
  enum class Kind { regular, directory, symlink, other };
  Kind kind = Kind::other;
  std::uint32_t owner = 0;
  /// The permission bits of the mode (0777 and the set-id and sticky bits).
  std::uint32_t permissions = 0;
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
  /// The content of `path` (links followed) when it is a regular file of at most `maxBytes`.
  /// Never waits on a FIFO or device and never reads more than `maxBytes` + 1 bytes.
  virtual BoundedRead readRegularFile(const std::string& path, std::size_t maxBytes) const = 0;
  /// Creates or truncates `path`, writes `bytes` and flushes them to the disk (fsync).
  virtual bool writeFileSynced(const std::string& path, std::string_view bytes) = 0;
  /// Creates a new file "<besidePath>.tmp-<random>" exclusively (never through an existing
  /// name or link), readable by the user only, holding `bytes` flushed to the disk. Returns its
  /// path; on failure nothing is left behind.
  virtual std::optional<std::string> writeNewTemporaryFile(const std::string& besidePath,
                                                           std::string_view bytes) = 0;
  /// Opens the regular file `path` for appending, creating it empty when missing. Refuses a
  /// symbolic link at `path` and anything that is not a regular file.
  virtual std::unique_ptr<AppendFile> openForAppend(const std::string& path) = 0;
  /// What `path` names, the link itself when it is one; nothing when it does not exist.
  virtual std::optional<LinkFacts> linkFacts(const std::string& path) const = 0;
  /// The text of the symbolic link at `path`; nothing when `path` is not a link.
  virtual std::optional<std::string> linkTarget(const std::string& path) const = 0;
  /// Atomically replaces `to` with `from` (rename(2)).
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  virtual bool remove(const std::string& path) = 0;
};

/// Why a bounded read of `path` gave nothing, as the one log line a refusal gets:
/// "<what> refused path=<path> reason=larger than <maxBytes> bytes" (or "not a regular file",
/// "unreadable", "missing").
std::string refusedReadMessage(std::string_view what, const std::string& path, ReadFailure failure,
                               std::size_t maxBytes);

/// The folder that holds `path`: "/a/b" for "/a/b/c", "/" for "/c", "." for a bare name.
std::string parentFolder(const std::string& path);

/// The file a chain of symbolic links starting at `path` ends at (`path` itself when it is no
/// link); nothing for a loop or a chain longer than the kernel would follow.
std::optional<std::string> finalLinkTarget(const FileSystem& fs, const std::string& path);

/// Replaces `path` with `bytes` so that a crash at any moment leaves either the old or the new
/// content, never a partial or empty file: write a new temporary sibling, fsync, rename over.
/// When `path` is a symbolic link, the file it ends at is replaced and the link stays a link.
bool writeFileAtomically(FileSystem& fs, const std::string& path, std::string_view bytes);

}  // namespace tolvane
