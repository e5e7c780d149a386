// The folder's events cover creation, renaming and removal; the file's cover edits in place.
#include "shell/preference_file_watch.h"

#include <QDir>
#include <QFileInfo>

namespace tolvane::shell {

PreferenceFileWatch::PreferenceFileWatch(const std::string& path, std::function<void()> changed)
    : path_(QString::fromStdString(path)), changed_(std::move(changed)) {
  const QString folder = QFileInfo(path_).absolutePath();
  // The folder is made by the first save; watched from the start, so that a file created by
  // hand before that is noticed too.
  QDir().mkpath(folder);
  watcher_.addPath(folder);
  rewatchFile();
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMilliseconds);
  QObject::connect(&settle_, &QTimer::timeout, [this] {
    rewatchFile();
    changed_();
  });
  const auto noted = [this](const QString&) { settle_.start(); };
  QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, noted);
  QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, noted);
}

void PreferenceFileWatch::rewatchFile() {
  if (!watcher_.files().contains(path_) && QFileInfo::exists(path_)) watcher_.addPath(path_);
}

}  // namespace tolvane::shell
