// Reading crashes back: sd-journal for systemd-coredump's entries, the record folder for the
// handler's records, and a small state file that keeps each crash from being delivered twice.
#include "backends/system/journal_crash_diagnostics.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <nlohmann/json.hpp>

#include "backends/system/posix_file_system.h"
#include "backends/system/unique_fd.h"

namespace tolvane::system {

namespace {

using Json = nlohmann::json;

constexpr std::string_view kCoredumpMessageID = "fc2e22bc6ee647b6b90729ab34a250b1";
constexpr std::string_view kStateFile = "journal.state";
constexpr std::size_t kMaxStateBytes = 8 * 1024;
constexpr std::size_t kMaxCursorBytes = 1024;
constexpr std::size_t kMaxMessageBytes = 64 * 1024;
constexpr std::size_t kMaxFieldBytes = 64;
constexpr std::size_t kMaxThreads = 16;
constexpr std::size_t kMaxNameBytes = 256;
constexpr std::size_t kMaxRecordsPerPass = 32;
// Records delivered lately, kept so that their journal entries, should they appear only after
// the record was read (systemd-coredump is still busy while the next launch starts), are not
// delivered a second time.
constexpr std::size_t kRememberedRecords = 16;
// A ".partial" record this old was left by a handler that never finished.
constexpr std::int64_t kStalePartialSeconds = 3600;

std::optional<std::int64_t> decimal(std::string_view text) {
  std::int64_t value = 0;
  if (text.empty() || text.size() > 20) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> hex(std::string_view text) {
  if (!text.starts_with("0x") || text.size() < 3 || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string hexText(std::uint64_t value) {
  char text[20];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, 16);
  return "0x" + std::string(text, end);
}

// Outside text made safe to carry: bounded, and without control characters.
std::string cleaned(std::string_view text, std::size_t limit = kMaxNameBytes) {
  std::string clean(text.substr(0, limit));
  for (char& c : clean) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return clean;
}

// Folders may hold the user's name; a report is anonymous.
std::string fileName(std::string_view path) {
  const auto slash = path.rfind('/');
  return cleaned(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string signalName(int signal) {
  const char* abbreviation = ::sigabbrev_np(signal);
  return abbreviation ? std::string("SIG") + abbreviation : "SIG" + std::to_string(signal);
}

std::string codeName(int signal, int code) {
  struct Name {
    int signal;  // 0: any signal
    int code;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
      {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
      {SIGBUS, BUS_ADRALN, "BUS_ADRALN"},
      {SIGBUS, BUS_ADRERR, "BUS_ADRERR"},
      {SIGBUS, BUS_OBJERR, "BUS_OBJERR"},
      {SIGILL, ILL_ILLOPC, "ILL_ILLOPC"},
      {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"},
      {SIGILL, ILL_PRVOPC, "ILL_PRVOPC"},
      {SIGFPE, FPE_INTDIV, "FPE_INTDIV"},
      {SIGFPE, FPE_INTOVF, "FPE_INTOVF"},
      {SIGFPE, FPE_FLTDIV, "FPE_FLTDIV"},
      {SIGFPE, FPE_FLTINV, "FPE_FLTINV"},
      {0, SI_USER, "SI_USER"},
      {0, SI_TKILL, "SI_TKILL"},
      {0, SI_QUEUE, "SI_QUEUE"},
  };
  for (const auto& entry : kNames) {
    if ((entry.signal == 0 || entry.signal == signal) && entry.code == code) return entry.name;
  }
  return std::to_string(code);
}

bool faultHasAddress(int signal, int code) {
  return code > 0 &&
         (signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE);
}

// "#3  0x00007f0c1a2b3c4d raise (libc.so.6 + 0x3bfb2)" or "#4  0x000055d0c0001234 n/a".
std::optional<Json> stackFrame(std::string_view line) {
  const auto space = line.find(' ');
  if (space == std::string_view::npos || !decimal(line.substr(1, space - 1))) return std::nullopt;
  const auto start = line.find_first_not_of(' ', space);
  if (start == std::string_view::npos) return std::nullopt;
  line.remove_prefix(start);
  const auto addressEnd = line.find(' ');
  const auto address = hex(line.substr(0, addressEnd));
  if (!address) return std::nullopt;
  Json frame = {{"address", hexText(*address)}};
  if (addressEnd == std::string_view::npos) return frame;
  std::string_view rest = line.substr(addressEnd + 1);
  const auto open = rest.rfind(" (");
  const std::string_view function = rest.substr(0, open);
  if (!function.empty() && function != "n/a") frame["function"] = cleaned(function);
  if (open == std::string_view::npos || !rest.ends_with(")")) return frame;
  const std::string_view place = rest.substr(open + 2, rest.size() - open - 3);
  const auto plus = place.rfind(" + ");
  if (plus == std::string_view::npos) return frame;
  if (const auto offset = hex(place.substr(plus + 3))) {
    frame["image"] = fileName(place.substr(0, plus));
    frame["offset"] = *offset;
  }
  return frame;
}

Json threadsOfMessage(std::string_view message) {
  Json threads = Json::array();
  while (!message.empty()) {
    const auto newline = message.find('\n');
    const std::string_view line = message.substr(0, newline);
    message.remove_prefix(newline == std::string_view::npos ? message.size() : newline + 1);
    if (line.starts_with("Stack trace of thread ")) {
      if (threads.size() == kMaxThreads) break;
      threads.push_back({{"frames", Json::array()}});
      if (threads.size() == 1) threads.back()["crashed"] = true;
      continue;
    }
    if (threads.empty() || !line.starts_with("#")) continue;
    auto& frames = threads.back()["frames"];
    if (frames.size() >= kMaxCrashFrames) continue;
    if (auto frame = stackFrame(line)) frames.push_back(std::move(*frame));
  }
  return threads;
}

std::string dumped(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// ---- what was delivered ----

struct DeliveredState {
  std::optional<std::string> cursor;
  /// The journal time of the last entry looked at, microseconds since 1970.
  std::int64_t realtimeUsec = 0;
  /// pid and time of records delivered lately, oldest first.
  std::vector<std::pair<std::int64_t, std::int64_t>> records;
};

std::string statePath(const std::string& folder) {
  return folder + "/" + std::string(kStateFile);
}

// A missing, oversized or malformed file is a first pass: at worst a month of crashes twice.
DeliveredState loadState(const std::string& folder) {
  DeliveredState state;
  PosixFileSystem files;
  const auto text = files.readRegularFile(statePath(folder), kMaxStateBytes).content;
  const Json json = text ? Json::parse(*text, nullptr, false) : Json();
  if (!json.is_object()) return state;
  const auto cursor = json.value("cursor", Json());
  if (cursor.is_string() && cursor.get<std::string>().size() <= kMaxCursorBytes) {
    state.cursor = cursor.get<std::string>();
  }
  const auto usec = json.value("usec", Json());
  if (usec.is_number_integer()) state.realtimeUsec = usec.get<std::int64_t>();
  const auto records = json.value("records", Json());
  if (!records.is_array()) return state;
  for (const auto& record : records) {
    if (state.records.size() == kRememberedRecords) break;
    if (record.is_array() && record.size() == 2 && record[0].is_number_integer() &&
        record[1].is_number_integer()) {
      state.records.emplace_back(record[0].get<std::int64_t>(), record[1].get<std::int64_t>());
    }
  }
  return state;
}

void saveState(const std::string& folder, const DeliveredState& state) {
  Json json = {{"usec", state.realtimeUsec}, {"records", Json::array()}};
  if (state.cursor) json["cursor"] = *state.cursor;
  for (const auto& [pid, time] : state.records) json["records"].push_back({pid, time});
  PosixFileSystem files;
  // Without the state the next launch would deliver the same journal entries again.
  files.createDirectories(folder);
  writeFileAtomically(files, statePath(folder), dumped(json));
}

bool sameCrash(const FoundCrash& crash, std::int64_t pid, std::int64_t time) {
  return crash.pid == pid &&
         std::abs(crash.time - time) <= JournalCrashDiagnostics::kSameCrashSeconds;
}

// ---- the journal ----

struct ClosesJournal {
  void operator()(sd_journal* journal) const { sd_journal_close(journal); }
};
using Journal = std::unique_ptr<sd_journal, ClosesJournal>;

std::optional<std::string> journalField(sd_journal* journal, std::string_view name,
                                        std::size_t limit) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(journal, std::string(name).c_str(), &data, &length) < 0) {
    return std::nullopt;
  }
  std::string_view field(static_cast<const char*>(data), length);
  if (!field.starts_with(name) || field.size() <= name.size()) return std::nullopt;
  return std::string(field.substr(name.size() + 1, limit));
}

std::optional<std::string> currentCursor(sd_journal* journal) {
  char* cursor = nullptr;
  if (sd_journal_get_cursor(journal, &cursor) < 0 || !cursor) return std::nullopt;
  std::unique_ptr<char, decltype(&::free)> owned(cursor, &::free);
  if (std::strlen(cursor) > kMaxCursorBytes) return std::nullopt;
  return std::string(cursor);
}

Journal openCoredumpJournal(const std::string& executable) {
  sd_journal* raw = nullptr;
  if (sd_journal_open(&raw, SD_JOURNAL_LOCAL_ONLY) < 0) return nullptr;
  Journal journal(raw);
  // Bounds what sd_journal_get_data hands back, whatever a field holds.
  sd_journal_set_data_threshold(raw, kMaxMessageBytes);
  const std::string matches[] = {"MESSAGE_ID=" + std::string(kCoredumpMessageID),
                                 "COREDUMP_EXE=" + executable,
                                 "COREDUMP_UID=" + std::to_string(::getuid())};
  for (const auto& match : matches) {
    if (sd_journal_add_match(raw, match.data(), match.size()) < 0) return nullptr;
  }
  return journal;
}

CoredumpFields fieldsOf(sd_journal* journal) {
  CoredumpFields fields;
  fields.signal = journalField(journal, "COREDUMP_SIGNAL", kMaxFieldBytes).value_or("");
  fields.pid = journalField(journal, "COREDUMP_PID", kMaxFieldBytes).value_or("");
  fields.timestamp = journalField(journal, "COREDUMP_TIMESTAMP", kMaxFieldBytes).value_or("");
  fields.message = journalField(journal, "MESSAGE", kMaxMessageBytes).value_or("");
  return fields;
}

// ---- the records ----

std::optional<std::string> readBounded(int folder, const char* name, struct stat& facts) {
  UniqueFd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid() || ::fstat(fd.get(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
  if (static_cast<std::size_t>(facts.st_size) > kMaxCrashRecordBytes) return std::nullopt;
  std::string text(kMaxCrashRecordBytes + 1, '\0');
  std::size_t used = 0;
  while (used < text.size()) {
    const ssize_t n = ::read(fd.get(), text.data() + used, text.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<std::size_t>(n);
  }
  if (used > kMaxCrashRecordBytes) return std::nullopt;
  text.resize(used);
  return text;
}

struct ClosesListing {
  void operator()(DIR* listing) const { ::closedir(listing); }
};

std::vector<FoundCrash> takeRecords(const std::string& folderPath, std::int64_t now) {
  std::vector<FoundCrash> crashes;
  UniqueFd folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.valid()) return crashes;
  // The listing gets a descriptor of its own; `folder` stays for the calls relative to it.
  const int copy = ::dup(folder.get());
  std::unique_ptr<DIR, ClosesListing> listing(copy >= 0 ? ::fdopendir(copy) : nullptr);
  if (!listing && copy >= 0) ::close(copy);
  if (!listing) return crashes;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    struct stat facts {};
    if (name.ends_with(kPartialRecordSuffix)) {
      if (::fstatat(folder.get(), entry->d_name, &facts, AT_SYMLINK_NOFOLLOW) == 0 &&
          now - facts.st_mtime > kStalePartialSeconds) {
        ::unlinkat(folder.get(), entry->d_name, 0);
      }
      continue;
    }
    if (!name.ends_with(kCrashRecordSuffix) || crashes.size() == kMaxRecordsPerPass) continue;
    const auto text = readBounded(folder.get(), entry->d_name, facts);
    // Whoever removes the record delivers it: another instance reading the same folder at the
    // same moment finds it gone. Corrupt and oversized records go the same way.
    if (::unlinkat(folder.get(), entry->d_name, 0) != 0 || !text) continue;
    if (const auto record = parseCrashRecord(*text)) crashes.push_back(crashFromRecord(*record));
  }
  return crashes;
}

Json recordThreads(const CrashRecord& record) {
  Json frames = Json::array();
  for (const auto address : record.frames) {
    Json frame = {{"address", hexText(address)}};
    for (const auto& module : record.modules) {
      if (address < module.start || address >= module.end) continue;
      frame["image"] = fileName(module.path);
      frame["offset"] = address - module.base;
      break;
    }
    frames.push_back(std::move(frame));
  }
  return Json::array({{{"crashed", true}, {"frames", std::move(frames)}}});
}

}  // namespace

std::optional<FoundCrash> crashFromCoredump(const CoredumpFields& fields,
                                            const std::string& osVersion, const std::string& arch) {
  const auto signal = decimal(fields.signal);
  const auto pid = decimal(fields.pid);
  const auto usec = decimal(fields.timestamp);
  if (!signal || *signal < 1 || *signal > 64 || !pid || *pid < 1 || !usec || *usec < 0) {
    return std::nullopt;
  }
  const std::string_view message = std::string_view(fields.message).substr(0, kMaxMessageBytes);
  FoundCrash crash;
  crash.pid = *pid;
  crash.time = *usec / 1000000;
  crash.diagnostic.osVersion = osVersion;
  crash.diagnostic.arch = arch;
  crash.diagnostic.signal = static_cast<int>(*signal);
  crash.diagnostic.exceptionType = signalName(static_cast<int>(*signal));
  crash.diagnostic.callStackJSON =
      dumped({{"source", "journal"}, {"threads", threadsOfMessage(message)}});
  return crash;
}

FoundCrash crashFromRecord(const CrashRecord& record) {
  FoundCrash crash;
  crash.pid = record.pid;
  crash.time = record.time;
  crash.diagnostic.osVersion = record.osVersion;
  crash.diagnostic.arch = record.arch;
  crash.diagnostic.signal = record.signal;
  crash.diagnostic.exceptionType = signalName(record.signal);
  std::string code = codeName(record.signal, record.code);
  if (faultHasAddress(record.signal, record.code)) code += " at " + hexText(record.faultAddress);
  crash.diagnostic.exceptionCode = code;
  crash.diagnostic.callStackJSON =
      dumped({{"source", "record"}, {"threads", recordThreads(record)}});
  return crash;
}

std::vector<CoredumpEntry> SystemCoredumpJournal::entriesAfter(
    const std::optional<std::string>& cursor, std::int64_t sinceUsec, std::size_t limit) {
  std::vector<CoredumpEntry> entries;
  Journal journal = openCoredumpJournal(executable_);
  if (!journal) return entries;
  const bool seeked =
      (cursor && sd_journal_seek_cursor(journal.get(), cursor->c_str()) >= 0) ||
      sd_journal_seek_realtime_usec(journal.get(), static_cast<std::uint64_t>(sinceUsec)) >= 0;
  if (!seeked) return entries;
  while (entries.size() < limit && sd_journal_next(journal.get()) > 0) {
    std::uint64_t usec = 0;
    if (sd_journal_get_realtime_usec(journal.get(), &usec) < 0) continue;
    // The cursor's own entry was delivered; so was everything older, should that entry have
    // been rotated away and the seek landed earlier.
    if (cursor && sd_journal_test_cursor(journal.get(), cursor->c_str()) > 0) continue;
    if (static_cast<std::int64_t>(usec) < sinceUsec) continue;
    auto at = currentCursor(journal.get());
    if (!at) continue;
    entries.push_back({std::move(*at), static_cast<std::int64_t>(usec), fieldsOf(journal.get())});
  }
  return entries;
}

bool coredumpHandlesCrashes(std::string_view corePattern) {
  return corePattern.starts_with("|") &&
         corePattern.find("systemd-coredump") != std::string_view::npos;
}

JournalCrashDiagnostics::JournalCrashDiagnostics(Config config) : config_(std::move(config)) {}

JournalCrashDiagnostics::~JournalCrashDiagnostics() {
  worker_.stop();
}

void JournalCrashDiagnostics::subscribe(std::function<void(std::vector<CrashDiagnostic>)> deliver) {
  worker_.async([this, deliver = std::move(deliver)] { deliver(pass()); });
}

std::vector<CrashDiagnostic> JournalCrashDiagnostics::pass() {
  const auto now = static_cast<std::int64_t>(config_.clock.wallSeconds());
  DeliveredState state = loadState(config_.recordFolder);
  PosixFileSystem files;
  const auto pattern = files.readRegularFile(config_.corePatternFile, 4096).content;
  std::vector<FoundCrash> journal;
  if (pattern && coredumpHandlesCrashes(*pattern)) {
    const std::int64_t monthAgo = (now - kFirstLookBackSeconds) * 1000000;
    const std::int64_t since = std::max(state.realtimeUsec, monthAgo);
    for (auto& entry : config_.journal.entriesAfter(state.cursor, since, kMaxJournalEntries)) {
      if (entry.cursor.empty() || entry.cursor.size() > kMaxCursorBytes) continue;
      state.cursor = entry.cursor;
      state.realtimeUsec = entry.realtimeUsec;
      if (auto crash = crashFromCoredump(entry.fields, config_.osVersion, config_.arch)) {
        journal.push_back(std::move(*crash));
      }
    }
  }
  const std::vector<FoundCrash> records = takeRecords(config_.recordFolder, now);

  std::vector<CrashDiagnostic> delivered;
  const auto rememberedRecords = state.records;
  for (const auto& crash : journal) {
    const bool recordWentOut = std::any_of(
        rememberedRecords.begin(), rememberedRecords.end(),
        [&](const auto& record) { return sameCrash(crash, record.first, record.second); });
    if (!recordWentOut) delivered.push_back(crash.diagnostic);
  }
  for (const auto& crash : records) {
    const bool inJournal = std::any_of(journal.begin(), journal.end(), [&](const auto& entry) {
      return sameCrash(entry, crash.pid, crash.time);
    });
    if (inJournal) continue;
    delivered.push_back(crash.diagnostic);
    state.records.emplace_back(crash.pid, crash.time);
  }
  if (state.records.size() > kRememberedRecords) {
    state.records.erase(state.records.begin(),
                        state.records.end() - static_cast<std::ptrdiff_t>(kRememberedRecords));
  }
  saveState(config_.recordFolder, state);
  return delivered;
}

}  // namespace tolvane::system
