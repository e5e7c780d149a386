// The handler runs in a process that is already broken: it calls only async-signal-safe functions
// (open, write, fsync, close, rename, clock_gettime, getpid, sigaction, raise, alarm), touches only
// memory prepared at install, and never allocates.
#include "backends/system/crash_record.h"

#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <execinfo.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <filesystem>

namespace tolvane::system {

namespace {

constexpr std::array kFatalSignals = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::string_view kFirstLine = "tolvane-crash-record 1";
constexpr std::string_view kLastLine = "end";
constexpr std::size_t kMaxTextField = 256;
constexpr std::size_t kMaxPathField = 1024;
// Enough for the unwinder and the formatting below; the crashing thread's own stack may be the
// very thing that overflowed.
constexpr std::size_t kAltStackBytes = 128 * 1024;
// Everything but the frames and the crash facts, written verbatim by the handler.
constexpr std::size_t kPreparedBytes = 48 * 1024;
constexpr unsigned kHandlerSeconds = 5;

// The handler can reach nothing but globals. They are written once, at install, before the
// handler can run, and only read afterwards.
struct Prepared {
  char folder[PATH_MAX];
  std::size_t folderLength = 0;
  char block[kPreparedBytes];
  std::size_t blockLength = 0;
  void* frames[kMaxCrashFrames];
  std::atomic<bool> handling{false};
  alignas(16) char altStack[kAltStackBytes];
};
Prepared prepared;

// A small buffered writer on a descriptor; `ok` turns false at the first failed write.
struct Out {
  int fd = -1;
  bool ok = true;
  std::size_t used = 0;
  char buffer[512];

  void flush() {
    std::size_t done = 0;
    while (ok && done < used) {
      const ssize_t n = ::write(fd, buffer + done, used - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      if (n > 0) done += static_cast<std::size_t>(n);
    }
    used = 0;
  }
  void put(const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      if (used == sizeof buffer) flush();
      buffer[used++] = text[i];
    }
  }
  void put(std::string_view text) { put(text.data(), text.size()); }
};

// Digits by hand: the standard formatters may take locks or allocate.
std::size_t formatDecimal(char* out, std::int64_t value) {
  char digits[24];
  std::size_t count = 0;
  const bool negative = value < 0;
  // Works on the unsigned magnitude so that the most negative value does not overflow.
  std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::size_t length = 0;
  if (negative) out[length++] = '-';
  while (count > 0) out[length++] = digits[--count];
  return length;
}

std::size_t formatHex(char* out, std::uint64_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t length = 0;
  out[length++] = '0';
  out[length++] = 'x';
  int shift = 60;
  while (shift > 0 && ((value >> shift) & 0xF) == 0) shift -= 4;
  for (; shift >= 0; shift -= 4) out[length++] = kHex[(value >> shift) & 0xF];
  return length;
}

void putDecimal(Out& out, std::int64_t value) {
  char text[24];
  out.put(text, formatDecimal(text, value));
}

void putHex(Out& out, std::uint64_t value) {
  char text[20];
  out.put(text, formatHex(text, value));
}

void putLine(Out& out, std::string_view key, std::int64_t value) {
  out.put(key);
  out.put(" ");
  putDecimal(out, value);
  out.put("\n");
}

// "<folder>/<seconds>-<pid><suffix>" into `path`, which holds PATH_MAX bytes.
void recordPath(char* path, std::int64_t seconds, std::int64_t pid, std::string_view suffix) {
  std::size_t length = prepared.folderLength;
  for (std::size_t i = 0; i < length; ++i) path[i] = prepared.folder[i];
  path[length++] = '/';
  length += formatDecimal(path + length, seconds);
  path[length++] = '-';
  length += formatDecimal(path + length, pid);
  for (const char c : suffix) path[length++] = c;
  path[length] = '\0';
}

void writeRecord(int signal, const siginfo_t* info) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t pid = ::getpid();
  char partial[PATH_MAX];
  char complete[PATH_MAX];
  recordPath(partial, now.tv_sec, pid, kPartialRecordSuffix);
  recordPath(complete, now.tv_sec, pid, kCrashRecordSuffix);

  Out out;
  out.fd = ::open(partial, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out.fd < 0) return;
  out.put(kFirstLine);
  out.put("\n");
  putLine(out, "pid", pid);
  putLine(out, "time", now.tv_sec);
  putLine(out, "signal", signal);
  putLine(out, "code", info ? info->si_code : 0);
  out.put("address ");
  putHex(out, info ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0);
  out.put("\n");
  out.put(prepared.block, prepared.blockLength);
  const int frames = ::backtrace(prepared.frames, static_cast<int>(kMaxCrashFrames));
  for (int i = 0; i < frames; ++i) {
    out.put("frame ");
    putHex(out, reinterpret_cast<std::uintptr_t>(prepared.frames[i]));
    out.put("\n");
  }
  out.put(kLastLine);
  out.put("\n");
  out.flush();
  const bool written = out.ok && ::fsync(out.fd) == 0;
  ::close(out.fd);
  if (written) ::rename(partial, complete);
}

// Should the handler hang (see the header), the alarm's default action ends the process.
void armBackstop() {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  ::sigaction(SIGALRM, &fallback, nullptr);
  sigset_t alarmOnly;
  ::sigemptyset(&alarmOnly);
  ::sigaddset(&alarmOnly, SIGALRM);
  ::sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
  ::alarm(kHandlerSeconds);
}

std::atomic<void (*)()> lastWords{nullptr};

void onFatalSignal(int signal, siginfo_t* info, void*) {
  armBackstop();
  if (prepared.handling.exchange(true)) {
    // Another thread (or this one, faulting inside the handler with another signal) is already
    // writing; its raise ends the process, or the alarm does.
    for (;;) ::pause();
  }
  writeRecord(signal, info);
  if (auto* words = lastWords.load()) words();
  // SA_RESETHAND already restored the default action; the signal stays blocked until the
  // handler returns, and then kills the process with it (a faulting instruction would fault
  // again anyway, but a signal sent by kill or abort would not).
  struct sigaction original {};
  original.sa_handler = SIG_DFL;
  ::sigaction(signal, &original, nullptr);
  ::raise(signal);
}

// Makes a line field out of outside text: control characters would split the record's lines.
std::string lineSafe(std::string_view text, std::size_t limit) {
  std::string safe(text.substr(0, limit));
  for (char& c : safe) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return safe;
}

std::string hexText(std::uint64_t value) {
  char text[20];
  return std::string(text, formatHex(text, value));
}

int describeModule(dl_phdr_info* info, std::size_t, void* data) {
  auto& lines = *static_cast<std::string*>(data);
  std::uint64_t low = UINT64_MAX;
  std::uint64_t high = 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    low = std::min<std::uint64_t>(low, info->dlpi_addr + segment.p_vaddr);
    high = std::max<std::uint64_t>(high, info->dlpi_addr + segment.p_vaddr + segment.p_memsz);
  }
  if (low >= high) return 0;
  // The executable comes first and has no name of its own here.
  std::string path = info->dlpi_name ? info->dlpi_name : "";
  if (lines.empty() && path.empty()) {
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) path.assign(exe, static_cast<std::size_t>(n));
  }
  if (path.empty()) return 0;  // the vDSO: nothing a symboliser could open
  lines += "module " + hexText(low) + " " + hexText(high) + " " + hexText(info->dlpi_addr) + " " +
           lineSafe(path, kMaxPathField) + "\n";
  return 0;
}

std::string preparedBlock(const CrashRecorderSetup& setup) {
  std::string modules;
  ::dl_iterate_phdr(describeModule, &modules);
  std::string block = "os " + lineSafe(setup.osVersion, kMaxTextField) + "\narch " +
                      lineSafe(setup.arch, kMaxTextField) + "\n";
  std::size_t count = 0;
  std::size_t start = 0;
  // Whole lines only, and as many as the prepared space and the reader's bound allow.
  while (count < kMaxCrashModules && start < modules.size()) {
    const std::size_t end = modules.find('\n', start) + 1;
    if (block.size() + (end - start) > kPreparedBytes) break;
    block.append(modules, start, end - start);
    start = end;
    ++count;
  }
  return block;
}

bool makePrivateFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ignored);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat facts {};
  if (::lstat(folder.c_str(), &facts) != 0) return false;
  if (!S_ISDIR(facts.st_mode) || facts.st_uid != ::getuid()) return false;
  return (facts.st_mode & 0777) == 0700 || ::chmod(folder.c_str(), 0700) == 0;
}

bool installAltStack() {
  stack_t stack{};
  stack.ss_sp = prepared.altStack;
  stack.ss_size = sizeof prepared.altStack;
  return ::sigaltstack(&stack, nullptr) == 0;
}

// ---- reading back ----

std::optional<std::int64_t> decimalField(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> hexField(std::string_view text) {
  if (!text.starts_with("0x") || text.size() < 3 || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool printable(std::string_view text, std::size_t limit) {
  if (text.size() > limit) return false;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::optional<CrashModule> moduleField(std::string_view text) {
  CrashModule module;
  std::uint64_t* numbers[] = {&module.start, &module.end, &module.base};
  for (auto* number : numbers) {
    const auto space = text.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const auto value = hexField(text.substr(0, space));
    if (!value) return std::nullopt;
    *number = *value;
    text.remove_prefix(space + 1);
  }
  if (text.empty() || !printable(text, kMaxPathField) || module.start >= module.end) {
    return std::nullopt;
  }
  module.path = std::string(text);
  return module;
}

// Applies one "key value" line; false when the line is malformed or out of bounds.
bool applyLine(CrashRecord& record, std::string_view key, std::string_view value) {
  auto setDecimal = [&](auto& field, std::int64_t low, std::int64_t high) {
    const auto number = decimalField(value);
    if (!number || *number < low || *number > high) return false;
    field = static_cast<std::remove_reference_t<decltype(field)>>(*number);
    return true;
  };
  if (key == "pid") return setDecimal(record.pid, 1, INT_MAX);
  if (key == "time") return setDecimal(record.time, 0, INT64_MAX);
  if (key == "signal") return setDecimal(record.signal, 1, 64);
  if (key == "code") return setDecimal(record.code, INT_MIN, INT_MAX);
  if (key == "os" || key == "arch") {
    if (!printable(value, kMaxTextField)) return false;
    (key == "os" ? record.osVersion : record.arch) = std::string(value);
    return true;
  }
  if (key == "address") {
    const auto number = hexField(value);
    if (number) record.faultAddress = *number;
    return number.has_value();
  }
  if (key == "frame") {
    const auto number = hexField(value);
    if (!number || record.frames.size() >= kMaxCrashFrames) return false;
    record.frames.push_back(*number);
    return true;
  }
  if (key == "module") {
    auto module = moduleField(value);
    if (!module || record.modules.size() >= kMaxCrashModules) return false;
    record.modules.push_back(std::move(*module));
    return true;
  }
  return false;
}

}  // namespace

std::string crashRecordFolder(const UserPaths& paths, const BundleInfo& bundle) {
  return paths.dataHome + "/" + bundle.identifier + "/crashes";
}

bool installCrashRecorder(const CrashRecorderSetup& setup) {
  // Room for "/<seconds>-<pid>.partial" after the folder.
  if (setup.folder.empty() || setup.folder.size() > PATH_MAX - 64) return false;
  if (!makePrivateFolder(setup.folder) || !installAltStack()) return false;

  setup.folder.copy(prepared.folder, setup.folder.size());
  prepared.folderLength = setup.folder.size();
  const std::string block = preparedBlock(setup);
  block.copy(prepared.block, block.size());
  prepared.blockLength = block.size();
  // The unwinder is loaded on first use, which allocates: done here, never in the handler.
  ::backtrace(prepared.frames, static_cast<int>(kMaxCrashFrames));

  struct sigaction action {};
  action.sa_sigaction = onFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  ::sigemptyset(&action.sa_mask);
  for (const int signal : kFatalSignals) ::sigaction(signal, &action, nullptr);
  return true;
}

std::optional<CrashRecord> parseCrashRecord(std::string_view text) {
  if (text.size() > kMaxCrashRecordBytes || !text.ends_with("\n")) return std::nullopt;
  CrashRecord record;
  bool first = true;
  bool ended = false;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline + 1);
    if (ended) return std::nullopt;  // nothing may follow the end line
    if (first) {
      if (line != kFirstLine) return std::nullopt;
      first = false;
      continue;
    }
    if (line == kLastLine) {
      ended = true;
      continue;
    }
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    if (!applyLine(record, line.substr(0, space), line.substr(space + 1))) return std::nullopt;
  }
  if (!ended || record.signal == 0 || record.pid == 0) return std::nullopt;
  return record;
}

void setCrashLastWords(void (*words)()) {
  lastWords = words;
}

}  // namespace tolvane::system
