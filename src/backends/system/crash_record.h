// The fatal-signal handler that leaves a small crash record behind for the next launch, and the
// record's text format, read back by the crash diagnostics.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_info.h"

namespace tolvane::system {

/// What every record carries besides the crash itself; fixed when the handler is installed.
struct CrashRecorderSetup {
  /// Where records are written; created (0700) when missing.
  std::string folder;
  std::string osVersion;
  std::string arch;
};

/// Records are "<folder>/<seconds>-<pid>.crash"; the handler writes ".partial" first and
/// renames, so a reader never sees half a record under the final name.
inline constexpr std::string_view kCrashRecordSuffix = ".crash";
inline constexpr std::string_view kPartialRecordSuffix = ".partial";
/// A record file larger than this is corrupt.
inline constexpr std::size_t kMaxCrashRecordBytes = 64 * 1024;
/// At most this many frames are written and read back.
inline constexpr std::size_t kMaxCrashFrames = 64;
/// At most this many loaded images are described in a record.
inline constexpr std::size_t kMaxCrashModules = 160;

/// "<data home>/<bundle identifier>/crashes".
std::string crashRecordFolder(const UserPaths& paths, const BundleInfo& bundle);

/// Installs the handler of SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT: on an alternate signal
/// stack (of the calling thread; other threads have none, so a stack overflow there dies without
/// a record), it writes one record with async-signal-safe calls only, then restores the default
/// action and raises the signal again, so the process still dies by it and a core handler such
/// as systemd-coredump still sees the crash. Call once, early in main, on the main thread.
/// False (and nothing installed) when the folder or the alternate stack cannot be had.
///
/// Frames come from backtrace(), called once here so that its first-use loading of the unwinder
/// (which allocates) is done before any crash. The trade-off: the unwinder walks the loader's
/// list of images, so a crash inside the dynamic loader itself could hang the handler; an alarm
/// armed on entry then ends the process (by SIGALRM, without a record) after a few seconds.
bool installCrashRecorder(const CrashRecorderSetup& setup);

/// What the crash handler runs once the record is written, before the process dies: it must
/// use async-signal-safe calls only (it gives back what the desktop lent, such as compositor
/// key bindings). Null runs nothing. Any thread; the last one set wins.
void setCrashLastWords(void (*lastWords)());

/// One image mapped when the handler was installed.
struct CrashModule {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  /// What the image's addresses were shifted by: address - base is the address in the file,
  /// which is what a symboliser (addr2line -e path) takes.
  std::uint64_t base = 0;
  std::string path;
};

/// A record read back.
struct CrashRecord {
  std::int64_t pid = 0;
  /// Seconds since 1970.
  std::int64_t time = 0;
  int signal = 0;
  /// siginfo's si_code and si_addr.
  int code = 0;
  std::uint64_t faultAddress = 0;
  std::string osVersion;
  std::string arch;
  /// The executable first.
  std::vector<CrashModule> modules;
  /// Innermost first; the first few are the handler's own.
  std::vector<std::uint64_t> frames;
};

/// The record in `text` when it is complete and every field is well formed and in bounds;
/// nothing otherwise.
std::optional<CrashRecord> parseCrashRecord(std::string_view text);

}  // namespace tolvane::system
