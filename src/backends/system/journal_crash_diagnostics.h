// Crash diagnostics of the real desktop: this program's crashes of earlier runs, from
// systemd-coredump's entries in the journal and from the records the fatal-signal handler left,
// each delivered once across launches.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backends/system/crash_record.h"
#include "base/clock.h"
#include "base/serial_queue.h"
#include "platform/crash_diagnostics.h"

namespace tolvane::system {

/// The fields of one systemd-coredump journal entry, as the journal holds them (unvalidated).
struct CoredumpFields {
  /// COREDUMP_SIGNAL.
  std::string signal;
  /// COREDUMP_PID.
  std::string pid;
  /// COREDUMP_TIMESTAMP, microseconds since 1970.
  std::string timestamp;
  /// MESSAGE: a summary line, then "Stack trace of thread N:" blocks of "#k  0x… symbol
  /// (image + 0x…)" lines.
  std::string message;
};

/// One coredump entry and where it stands in the journal.
struct CoredumpEntry {
  /// The journal's cursor of the entry.
  std::string cursor;
  /// When the journal took it, microseconds since 1970.
  std::int64_t realtimeUsec = 0;
  CoredumpFields fields;
};

/// The coredump entries of one executable and user: systemd's journal, or a test's list.
class CoredumpJournal {
 public:
  virtual ~CoredumpJournal() = default;
  /// The entries after the one `cursor` names, none older than `sinceUsec` (which also serves
  /// when there is no cursor, or the journal no longer holds its entry), oldest first, at most
  /// `limit`.
  virtual std::vector<CoredumpEntry> entriesAfter(const std::optional<std::string>& cursor,
                                                  std::int64_t sinceUsec, std::size_t limit) = 0;
};

/// The local journal through sd-journal: systemd-coredump's entries (its MESSAGE_ID) whose
/// COREDUMP_EXE is `executable` and COREDUMP_UID this process's user. Every field is read
/// bounded; an unreadable journal has no entries.
class SystemCoredumpJournal final : public CoredumpJournal {
 public:
  explicit SystemCoredumpJournal(std::string executable) : executable_(std::move(executable)) {}
  std::vector<CoredumpEntry> entriesAfter(const std::optional<std::string>& cursor,
                                          std::int64_t sinceUsec, std::size_t limit) override;

 private:
  std::string executable_;
};

/// A crash as delivered, with what ties a journal entry and a record of the same crash together.
struct FoundCrash {
  CrashDiagnostic diagnostic;
  std::int64_t pid = 0;
  /// Seconds since 1970.
  std::int64_t time = 0;
};

/// The crash a coredump entry describes; nothing when its signal, pid or time is malformed. The
/// journal does not say which system the crash ran on, so `osVersion` and `arch` are today's.
///
/// callStackJSON (records alike): {"source":"journal"|"record","threads":[{"crashed":true,
/// "frames":[{"address":"0x…","image":"libc.so.6","offset":1234,"function":"raise"}]}]}; image
/// and offset only when the frame lies in a known image, function only where the journal names
/// one. Images are file names without their folders, which may hold the user's name. At most 16
/// threads of 64 frames; names are cut to 256 bytes and control characters replaced.
std::optional<FoundCrash> crashFromCoredump(const CoredumpFields& fields,
                                            const std::string& osVersion, const std::string& arch);

/// The crash a record describes. "exceptionType" is the signal's name ("SIGSEGV");
/// "exceptionCode" the kind of fault with its address ("SEGV_MAPERR at 0x0").
FoundCrash crashFromRecord(const CrashRecord& record);

/// Whether a core_pattern hands cores to systemd-coredump (a pipe to it).
bool coredumpHandlesCrashes(std::string_view corePattern);

/// CrashDiagnostics on the journal and the crash records.
///
/// Each subscribe runs one pass on the object's own worker thread and then calls `deliver` there
/// exactly once, with an empty list when there was nothing new. A pass reads the coredump
/// entries newer than the last one delivered (when systemd-coredump handles crashes) and the
/// records of the record folder. A record is deleted as it is read (corrupt or oversized ones too);
/// a record and a journal entry of the same crash (same pid, at most a minute apart) are delivered
/// once, the journal's richer stack preferred. What was delivered is saved before `deliver` runs,
/// so a crash inside it never repeats.
class JournalCrashDiagnostics final : public CrashDiagnostics {
 public:
  struct Config {
    /// crashRecordFolder(); also holds the small state file "journal.state".
    std::string recordFolder;
    /// Where coredump entries come from (a SystemCoredumpJournal of this executable); must
    /// outlive this object.
    CoredumpJournal& journal;
    /// The date that bounds the first look back and the age of a half-written record; read on
    /// the worker thread.
    const Clock& clock;
    /// For journal crashes, which do not carry them.
    std::string osVersion;
    std::string arch;
    /// Read at every pass: the journal is asked only while it pipes to systemd-coredump.
    std::string corePatternFile = "/proc/sys/kernel/core_pattern";
  };

  /// At most this many coredump entries are looked at in one pass; the rest wait for the next.
  static constexpr std::size_t kMaxJournalEntries = 32;
  /// A first pass (no state yet) looks this far back in the journal.
  static constexpr std::int64_t kFirstLookBackSeconds = 30 * 86400;
  /// A record and a journal entry this close in time, of the same pid, are one crash.
  static constexpr std::int64_t kSameCrashSeconds = 60;

  explicit JournalCrashDiagnostics(Config config);
  /// Waits for a pass under way, which then still delivers.
  ~JournalCrashDiagnostics() override;

  void subscribe(std::function<void(std::vector<CrashDiagnostic>)> deliver) override;

 private:
  std::vector<CrashDiagnostic> pass();

  Config config_;
  // Last: stopped first, so a pass never outlives the configuration it reads.
  SerialQueue worker_;
};

}  // namespace tolvane::system
