// The diagnostic log: one timestamped line per event in a small rotating file, callable from
// any thread, read back whole when tester mode exports logs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/files.h"

namespace tolvane {

/// Lines go to "tester.log" in `dir`; when a line would push the file past kMaxFileBytes the
/// file becomes "tester.log.1" (replacing an older one) and a fresh file starts. Logging never
/// fails towards the caller: a line that cannot be stored is dropped.
class DebugLog {
 public:
  static constexpr std::int64_t kMaxFileBytes = 524288;
  /// The file's existence is tested once per this many lines, not on every write.
  static constexpr int kExistenceCheckInterval = 256;
  /// `tail()` returns at most this many characters.
  static constexpr std::size_t kTailCharacters = 262144;
  /// The most bytes `tail()` reads of either file: the tail's characters at four bytes each.
  /// Rotation keeps our own files far below; a larger or special file is someone else's.
  static constexpr std::size_t kMaxTailFileBytes = kTailCharacters * 4;
  /// Notices kept for a notice observer that is not set yet.
  static constexpr std::size_t kMaxEarlyNotices = 16;

  /// `dir` is created (with its parents) on first use, not here.
  DebugLog(FileSystem& files, const Clock& clock, std::string dir);
  ~DebugLog();
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;

  /// Appends "<ISO 8601 UTC timestamp> <message>\n". Bytes of `message` below 0x20 and DEL
  /// are written as \n, \r, \t or \xNN, so each call stays one line. Safe from any thread.
  void log(std::string_view message);

  /// The rotated file then the current one, joined, cut to the last kTailCharacters characters;
  /// empty when neither file can be read. A file that is not regular or holds more than
  /// kMaxTailFileBytes is left unread, and that is logged.
  std::string tail();

  /// Sees every line (without its line feed) as it is logged, under the log's lock, whether or
  /// not the file took it. Set it before other threads log; the scenario tool prints the lines.
  void setObserver(std::function<void(std::string_view line)> observer);

  /// Logs `message`, and hands it to the notice observer: for what stops Tolvane from working
  /// (a key combination owned by another program, no window manager), which a user who started
  /// it from a terminal should see there too.
  void notice(std::string_view message);
  /// Receives every notice after it is logged. Notices given before it was set (while the
  /// services that give them were being built) are handed over at once.
  void setNoticeObserver(std::function<void(std::string_view message)> observer);

  const std::string& filePath() const { return file_; }
  const std::string& rotatedPath() const { return rotated_; }

 private:
  void openLocked();
  void closeLocked();
  void rotateLocked();

  FileSystem& files_;
  const Clock& clock_;
  const std::string dir_;
  const std::string file_;
  const std::string rotated_;

  std::mutex lock_;
  std::unique_ptr<AppendFile> handle_;
  std::int64_t size_ = 0;
  int linesSinceCheck_ = 0;
  std::function<void(std::string_view)> observer_;
  std::mutex noticeLock_;
  std::function<void(std::string_view)> noticeObserver_;
  std::vector<std::string> earlyNotices_;
};

/// `bytes` with each malformed UTF-8 sequence (a bad byte and the continuation bytes after it)
/// replaced by one U+FFFD, so a JSON encoder takes it.
std::string validUTF8(std::string_view bytes);

/// The last `characters` Unicode code points of well-formed UTF-8 `text`, all of it when shorter;
/// the cut never falls inside a character.
std::string lastCharacters(std::string text, std::size_t characters);

/// Formats wall-clock seconds as ISO 8601 in UTC, "2026-12-06T06:29:52Z".
std::string iso8601(double wallSeconds);

}  // namespace tolvane
