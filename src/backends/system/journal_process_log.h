// This process's own entries in the systemd journal, read back for tester mode's export.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process_log.h"

namespace tolvane::system {

/// How much one read may return.
struct JournalReadLimits {
  std::size_t maxEntries = 10000;
  /// Categories and messages together.
  std::size_t maxTextBytes = 1 << 20;
  std::size_t maxMessageBytes = 4096;
};

/// Entries whose _PID is this process and whose _BOOT_ID is this boot, written since the
/// process started, oldest first. A read walks back from the journal's end, so when a bound is
/// reached it is the oldest entries that are left out. The category is the syslog priority
/// name ("err", "info", ...): every entry comes from this process, so its identifier would say
/// nothing, while its priority does. Without a journal (no journald, as in most containers) a
/// read fails with a reason the export shows in place of the entries. Blocking: call it off the
/// main thread.
class JournalProcessLog final : public ProcessLogReader {
 public:
  explicit JournalProcessLog(JournalReadLimits limits = {});

  std::optional<std::vector<ProcessLogEntry>> entriesSince(double sinceWallSeconds,
                                                           std::string& error) override;

 private:
  JournalReadLimits limits_;
  /// A process that had our PID earlier in this boot is not us: its entries stay out.
  double processStartWallSeconds_;
};

/// The syslog name of a journal PRIORITY value ("0" emerg … "7" debug); "unknown" otherwise.
std::string priorityName(std::optional<std::string_view> priority);

/// `raw` as one line of well-formed UTF-8 of at most `maxBytes` bytes: malformed sequences
/// become U+FFFD, control characters other than tab are written as \n, \r or \xNN, and the cut
/// falls on a character boundary.
std::string journalMessage(std::string_view raw, std::size_t maxBytes);

/// Gathers entries in the order a backwards walk meets them, newest first, and hands them back
/// oldest first.
class NewestEntries {
 public:
  NewestEntries(double sinceWallSeconds, JournalReadLimits limits)
      : since_(sinceWallSeconds), limits_(limits) {}

  /// Takes the entry, or returns false when the walk should stop: the entry is older than the
  /// window or would break a bound (it is not taken then).
  bool add(double wallSeconds, std::optional<std::string_view> priority,
           std::string_view rawMessage);
  /// The entries taken, oldest first.
  std::vector<ProcessLogEntry> oldestFirst() &&;

 private:
  double since_;
  JournalReadLimits limits_;
  std::size_t textBytes_ = 0;
  std::vector<ProcessLogEntry> newestFirst_;
};

}  // namespace tolvane::system
