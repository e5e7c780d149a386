// The diagnostic log's writer and reader: line building, rotation, the periodic existence check
// and the character-exact tail used by the tester-mode export.
#include "diagnostics/debug_log.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

#include "base/utf8.h"

namespace tolvane {

// The export puts the tail into a JSON body, and a JSON encoder refuses malformed UTF-8. A write
// error can leave half a character at the end of a file, and callers may log arbitrary bytes,
// so each malformed sequence (a bad byte and the continuation bytes after it) becomes one U+FFFD
// instead of costing the whole file.
std::string validUTF8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    char32_t codePoint = 0;
    const std::size_t length = utf8SequenceAt(bytes, 0, codePoint);
    if (length == 0) {
      text += kReplacementCharacter;
      bytes.remove_prefix(1);
      while (!bytes.empty() && isUtf8Continuation(static_cast<unsigned char>(bytes.front()))) {
        bytes.remove_prefix(1);
      }
    } else {
      text.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
    }
  }
  return text;
}

// The last `characters` code points of well-formed UTF-8 `text`. Counting lead bytes from the
// end means the cut always falls on a character boundary.
std::string lastCharacters(std::string text, std::size_t characters) {
  std::size_t seen = 0;
  for (std::size_t i = text.size(); i > 0; --i) {
    if (isUtf8Continuation(static_cast<unsigned char>(text[i - 1]))) continue;
    if (++seen == characters) {
      text.erase(0, i - 1);
      return text;
    }
  }
  return text;
}

namespace {

// A message may carry text from outside (a URL's host, a window title, an application name).
// A line feed in it would start a line of its own that reads like one the log wrote, so every
// byte below 0x20 and DEL is written as an escape. A backslash stays as it is: the escapes keep
// lines whole, they are not meant to be undone.
void appendEscaped(std::string& line, std::string_view message) {
  static constexpr std::string_view kHexDigits = "0123456789abcdef";
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      line += c;
    } else if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else {
      line += "\\x";
      line += kHexDigits[byte >> 4];
      line += kHexDigits[byte & 0xf];
    }
  }
}

}  // namespace

std::string iso8601(double wallSeconds) {
  using namespace std::chrono;
  // Whole seconds, rounded towards the past: a line logged at :52.9 belongs to second :52.
  const auto whole = std::isfinite(wallSeconds) ? static_cast<std::int64_t>(std::floor(wallSeconds))
                                                : std::int64_t{0};
  const sys_seconds moment{seconds{whole}};
  const auto day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss time{moment - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

DebugLog::DebugLog(FileSystem& files, const Clock& clock, std::string dir)
    : files_(files),
      clock_(clock),
      dir_(std::move(dir)),
      file_(dir_ + "/tester.log"),
      rotated_(dir_ + "/tester.log.1") {}

DebugLog::~DebugLog() = default;

void DebugLog::log(std::string_view message) {
  std::lock_guard guard(lock_);
  std::string line = iso8601(clock_.wallSeconds());
  line += ' ';
  appendEscaped(line, message);
  if (observer_) observer_(line);
  line += '\n';
  const auto bytes = static_cast<std::int64_t>(line.size());

  // Someone may delete the file while the handle keeps writing into the unlinked inode; asking
  // the file system on every line would cost more than the line, so the check is periodic.
  if (++linesSinceCheck_ >= kExistenceCheckInterval) {
    linesSinceCheck_ = 0;
    if (!files_.exists(file_)) closeLocked();
  }
  if (!handle_) openLocked();
  if (size_ + bytes > kMaxFileBytes) {
    rotateLocked();
    openLocked();
  }
  if (!handle_) return;
  if (!handle_->append(line)) {
    closeLocked();
    return;
  }
  size_ += bytes;
}

std::string DebugLog::tail() {
  std::string joined;
  std::vector<std::string> refusals;
  {
    std::lock_guard guard(lock_);
    for (const std::string* path : {&rotated_, &file_}) {
      auto read = files_.readRegularFile(*path, kMaxTailFileBytes);
      if (read.content) {
        joined += *read.content;
      } else if (read.failure != ReadFailure::missing) {
        refusals.push_back(refusedReadMessage("log file", *path, read.failure, kMaxTailFileBytes));
      }
    }
  }
  // Logged once the lock is free: logging takes it too.
  for (const auto& refusal : refusals) log(refusal);
  return lastCharacters(validUTF8(joined), kTailCharacters);
}

void DebugLog::setObserver(std::function<void(std::string_view line)> observer) {
  std::lock_guard guard(lock_);
  observer_ = std::move(observer);
}

void DebugLog::notice(std::string_view message) {
  log(message);
  std::lock_guard guard(noticeLock_);
  if (noticeObserver_) {
    noticeObserver_(message);
  } else if (earlyNotices_.size() < kMaxEarlyNotices) {
    earlyNotices_.emplace_back(message);
  }
}

void DebugLog::setNoticeObserver(std::function<void(std::string_view message)> observer) {
  std::lock_guard guard(noticeLock_);
  noticeObserver_ = std::move(observer);
  if (!noticeObserver_) return;
  for (const auto& message : earlyNotices_) noticeObserver_(message);
  earlyNotices_.clear();
}

void DebugLog::openLocked() {
  files_.createDirectories(dir_);
  handle_ = files_.openForAppend(file_);
  if (!handle_) {
    size_ = 0;
    return;
  }
  size_ = static_cast<std::int64_t>(handle_->endOffset().value_or(0));
}

void DebugLog::closeLocked() {
  handle_.reset();
  size_ = 0;
}

void DebugLog::rotateLocked() {
  closeLocked();
  files_.remove(rotated_);
  files_.rename(file_, rotated_);
}

}  // namespace tolvane
