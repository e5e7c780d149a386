// The scenario tool's temporary state folder: made fresh for one run and removed at its end,
// also when a terminating signal ends the process.
#pragma once

#include <string>

namespace tolvane::simtool {

/// A fresh folder under $TMPDIR (else /tmp), removed with everything in it on destruction. At
/// most one may exist at a time: the signal handlers know one folder.
class TemporaryStateFolder {
 public:
  TemporaryStateFolder();
  ~TemporaryStateFolder();
  TemporaryStateFolder(const TemporaryStateFolder&) = delete;
  TemporaryStateFolder& operator=(const TemporaryStateFolder&) = delete;

  /// Empty when no folder could be made.
  const std::string& path() const { return path_; }

  /// From now on SIGTERM, SIGINT and SIGHUP remove the folder as well: the handlers installed
  /// before this call (the hotkeys' emergency restore) run first, then the folder goes, then
  /// the process ends by the signal. Call once those handlers are in place.
  void removeOnTerminatingSignals();

 private:
  std::string path_;
};

/// Removes `path` and everything in it, down to a fixed depth, with system calls only, so a
/// signal handler may call it. True when `path` is gone.
bool removeFolderTree(const char* path);

}  // namespace tolvane::simtool
