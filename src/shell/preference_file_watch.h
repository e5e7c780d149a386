// Notices when another program (or the user, in an editor) changes the preference file, so
// that the running application and its open windows follow instead of overwriting the change.
#pragma once

#include <QFileSystemWatcher>
#include <QTimer>
#include <functional>
#include <string>

namespace tolvane::shell {

/// Main thread only. Watches the file's folder as well as the file: saving by renaming a new
/// file over the old one (as Tolvane and most editors do) ends a watch on the file itself.
class PreferenceFileWatch {
 public:
  /// Changes are gathered for this long after the last one, so that an editor's truncate-then-
  /// write is read once it is complete rather than half way.
  static constexpr int kSettleMilliseconds = 250;

  PreferenceFileWatch(const std::string& path, std::function<void()> changed);

 private:
  void rewatchFile();

  QString path_;
  std::function<void()> changed_;
  QFileSystemWatcher watcher_;
  QTimer settle_;
};

}  // namespace tolvane::shell
