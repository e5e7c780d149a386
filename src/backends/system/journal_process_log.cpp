// Reading this process's journal entries through sd-journal, and the bounds and cleaning every
// entry goes through before it leaves the process.
#include "backends/system/journal_process_log.h"

#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <memory>
#include <sstream>
#include <system_error>

#include "diagnostics/debug_log.h"

namespace tolvane::system {

namespace {

struct JournalCloser {
  void operator()(sd_journal* journal) const { sd_journal_close(journal); }
};
using Journal = std::unique_ptr<sd_journal, JournalCloser>;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

constexpr std::string_view kHexDigits = "0123456789abcdef";
// The kernel counts a process's start in clock ticks; a tick and the time between reading two
// clocks are far below this slack.
constexpr double kProcessStartSlackSeconds = 1.0;

double seconds(const timespec& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// The wall-clock time this process started: field 22 of /proc/self/stat counts clock ticks
// from boot (on the boot-time clock), taken back from now. 0, no bound, when it cannot be read.
double processStartWallSeconds() {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen("/proc/self/stat", "re"));
  if (!file) return 0;
  std::array<char, 4096> buffer{};
  const std::size_t length = std::fread(buffer.data(), 1, buffer.size() - 1, file.get());
  const std::string_view stat(buffer.data(), length);
  // The command name in parentheses may hold spaces and parentheses of its own.
  const auto nameEnd = stat.rfind(')');
  if (nameEnd == std::string_view::npos) return 0;
  // Fields count from 1, and the name is the second.
  std::istringstream fields{std::string(stat.substr(nameEnd + 1))};
  std::string startTime;
  for (int index = 3; index <= 22; ++index) {
    if (!(fields >> startTime)) return 0;
  }
  unsigned long long ticks = 0;
  const char* end = startTime.data() + startTime.size();
  if (std::from_chars(startTime.data(), end, ticks).ec != std::errc{}) return 0;
  const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  timespec wall{};
  timespec boot{};
  if (ticksPerSecond <= 0 || ::clock_gettime(CLOCK_REALTIME, &wall) != 0 ||
      ::clock_gettime(CLOCK_BOOTTIME, &boot) != 0) {
    return 0;
  }
  const double sinceStart = seconds(boot) - static_cast<double>(ticks) / ticksPerSecond;
  return seconds(wall) - sinceStart;
}

std::string describe(int negativeErrno) {
  return std::error_code(-negativeErrno, std::generic_category()).message();
}

// A copy of the value of `name` in the current entry; nothing when the entry lacks it. Copied
// because the library's pointer lasts only until its next read of a field.
std::optional<std::string> field(sd_journal* journal, std::string_view name) {
  const void* data = nullptr;
  std::size_t length = 0;
  const std::string key(name);
  if (sd_journal_get_data(journal, key.c_str(), &data, &length) < 0) return std::nullopt;
  const std::string_view assignment(static_cast<const char*>(data), length);
  // Fields come back as "NAME=value".
  if (assignment.size() <= name.size() || assignment[name.size()] != '=') return std::nullopt;
  return std::string(assignment.substr(name.size() + 1));
}

// Entries of this process in this boot only: a PID is reused across boots, and within one
// boot the start-time bound in entriesSince keeps earlier holders of the PID out.
std::optional<std::string> matchThisProcess(sd_journal* journal) {
  sd_id128_t boot{};
  if (const int r = sd_id128_get_boot(&boot); r < 0) return "no boot id: " + describe(r);
  char bootText[SD_ID128_STRING_MAX];
  const std::string bootMatch = "_BOOT_ID=" + std::string(sd_id128_to_string(boot, bootText));
  const std::string pidMatch = "_PID=" + std::to_string(::getpid());
  for (const std::string* match : {&bootMatch, &pidMatch}) {
    if (const int r = sd_journal_add_match(journal, match->data(), match->size()); r < 0) {
      return "cannot filter the journal: " + describe(r);
    }
  }
  return std::nullopt;
}

// Cuts UTF-8 `text` to at most `maxBytes`, backing off to the start of a character.
void cutToBytes(std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
}

}  // namespace

std::string priorityName(std::optional<std::string_view> priority) {
  static constexpr std::array<const char*, 8> kNames = {"emerg",   "alert",  "crit", "err",
                                                        "warning", "notice", "info", "debug"};
  if (!priority || priority->size() != 1) return "unknown";
  const int level = (*priority)[0] - '0';
  return level >= 0 && level < 8 ? kNames[static_cast<std::size_t>(level)] : "unknown";
}

std::string journalMessage(std::string_view raw, std::size_t maxBytes) {
  // Cut before the work, so a huge field costs no more than a bounded one; the escapes may
  // grow it again, hence the second cut.
  const std::string valid = validUTF8(raw.substr(0, maxBytes));
  std::string line;
  line.reserve(valid.size());
  for (const char c : valid) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 0x20 && byte != 0x7f) || c == '\t') {
      line += c;
    } else if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += "\\x";
      line += kHexDigits[byte >> 4];
      line += kHexDigits[byte & 0xf];
    }
  }
  cutToBytes(line, maxBytes);
  return line;
}

bool NewestEntries::add(double wallSeconds, std::optional<std::string_view> priority,
                        std::string_view rawMessage) {
  if (wallSeconds < since_ || newestFirst_.size() >= limits_.maxEntries) return false;
  ProcessLogEntry entry{wallSeconds, priorityName(priority),
                        journalMessage(rawMessage, limits_.maxMessageBytes)};
  const std::size_t bytes = entry.category.size() + entry.message.size();
  if (textBytes_ + bytes > limits_.maxTextBytes) return false;
  textBytes_ += bytes;
  newestFirst_.push_back(std::move(entry));
  return true;
}

std::vector<ProcessLogEntry> NewestEntries::oldestFirst() && {
  std::reverse(newestFirst_.begin(), newestFirst_.end());
  return std::move(newestFirst_);
}

JournalProcessLog::JournalProcessLog(JournalReadLimits limits)
    : limits_(limits), processStartWallSeconds_(processStartWallSeconds()) {}

std::optional<std::vector<ProcessLogEntry>> JournalProcessLog::entriesSince(double sinceWallSeconds,
                                                                            std::string& error) {
  sd_journal* opened = nullptr;
  if (const int r = sd_journal_open(&opened, SD_JOURNAL_LOCAL_ONLY); r < 0) {
    error = "cannot open the systemd journal: " + describe(r);
    return std::nullopt;
  }
  const Journal journal(opened);
  // Opening succeeds on a machine without journald; it just finds no files to read.
  std::uint64_t usage = 0;
  if (sd_journal_get_usage(journal.get(), &usage) < 0 || usage == 0) {
    error = "no systemd journal on this system";
    return std::nullopt;
  }
  if (auto problem = matchThisProcess(journal.get())) {
    error = *problem;
    return std::nullopt;
  }
  // Fields past this size come back cut (and compressed ones are not inflated past it).
  sd_journal_set_data_threshold(journal.get(), limits_.maxMessageBytes + sizeof "MESSAGE=");

  const double since =
      std::max(sinceWallSeconds, processStartWallSeconds_ - kProcessStartSlackSeconds);
  NewestEntries newest(since, limits_);
  sd_journal_seek_tail(journal.get());
  while (sd_journal_previous(journal.get()) > 0) {
    std::uint64_t micros = 0;
    if (sd_journal_get_realtime_usec(journal.get(), &micros) < 0) continue;
    const auto message = field(journal.get(), "MESSAGE");
    if (!message) continue;  // entries without a message carry nothing to read
    const auto priority = field(journal.get(), "PRIORITY");
    if (!newest.add(static_cast<double>(micros) / 1e6, priority, *message)) break;
  }
  return std::move(newest).oldestFirst();
}

}  // namespace tolvane::system
