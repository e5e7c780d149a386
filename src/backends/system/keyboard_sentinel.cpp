// The sentinel: a forked child that polls a shared word and the parent's state under /proc, and
// the parent's side of the shared page.
#include "backends/system/keyboard_sentinel.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <ctime>
#include <new>

#include "backends/system/unique_fd.h"

namespace tolvane::system {

struct KeyboardSentinel::Page {
  std::atomic<std::uint32_t> heldWindow{0};
  std::atomic<std::uint32_t> acted{0};
};

namespace {

// Both processes touch the page without locks; a stopped parent must never hold one the child
// waits for.
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

// A stat line is a few hundred bytes; the state sits right after the command name, so a cut
// further on loses nothing.
constexpr std::size_t kStatBytes = 1024;

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::optional<char> readProcessState(const std::string& statPath) {
  UniqueFd file(open(statPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return std::nullopt;
  char buffer[kStatBytes];
  const ssize_t read = ::read(file.get(), buffer, sizeof buffer);
  if (read <= 0) return std::nullopt;
  return processStateOfStat({buffer, static_cast<std::size_t>(read)});
}

/// The terminal's job control and a closed terminal reach the whole process group; the sentinel
/// must outlive a Ctrl-Z of Tolvane, and ends with its parent anyway.
void detachFromSignals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int ignored :
       {SIGINT, SIGQUIT, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE, SIGUSR1, SIGUSR2}) {
    signal(ignored, SIG_IGN);
  }
  setpgid(0, 0);
}

/// Closes [first, last) of the descriptors, however many are open.
void closeRange(int first, int last) {
  if (first >= last) return;
  if (close_range(static_cast<unsigned>(first), static_cast<unsigned>(last - 1), 0) == 0) return;
  for (int fd = first; fd < last; ++fd) close(fd);
}

/// The parent's descriptors (its instance lock, its socket, the pipe a terminal reads) are not
/// the sentinel's to keep open, except `keep` (the connection it may have to shut down).
void closeInheritedDescriptors(int keep) {
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    for (int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) dup2(null, standard);
    if (null > STDERR_FILENO) close(null);
  }
  const long limit = sysconf(_SC_OPEN_MAX);
  const int last = limit > 0 && limit < 65536 ? static_cast<int>(limit) : 65536;
  if (keep <= STDERR_FILENO || keep >= last) {
    closeRange(STDERR_FILENO + 1, last);
    return;
  }
  closeRange(STDERR_FILENO + 1, keep);
  closeRange(keep + 1, last);
}

[[noreturn]] void runSentinel(pid_t parent, const std::string& statPath,
                              std::atomic<std::uint32_t>& heldWindow,
                              std::atomic<std::uint32_t>& acted,
                              const KeyboardSentinel::LetGo& letGo, int keep) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The parent may have ended before the line above: nobody would send the signal then.
  if (getppid() != parent) _exit(0);
  prctl(PR_SET_NAME, "tolvane-sentry");
  detachFromSignals();
  closeInheritedDescriptors(keep);
  SentinelWatch watch({
      .now = monotonicSeconds,
      .heldWindow = [&] { return heldWindow.load(std::memory_order_acquire); },
      .parentState = [&] { return readProcessState(statPath); },
  });
  const timespec interval{0, static_cast<long>(KeyboardSentinel::kPollSeconds * 1e9)};
  while (getppid() == parent) {
    nanosleep(&interval, nullptr);
    const auto window = watch.look();
    if (!window) continue;
    // Said before the disconnect: the parent may run again the moment its connection closes.
    acted.store(1, std::memory_order_release);
    if (letGo(*window)) _exit(0);
    acted.store(0, std::memory_order_release);
  }
  _exit(0);
}

}  // namespace

std::optional<char> processStateOfStat(std::string_view stat) {
  const auto open = stat.find('(');
  const auto close = stat.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  // ") S 1 ..." : one space, one letter, then a space or the end.
  if (close + 2 >= stat.size() || stat[close + 1] != ' ') return std::nullopt;
  const char state = stat[close + 2];
  if (!std::isalpha(static_cast<unsigned char>(state))) return std::nullopt;
  if (close + 3 < stat.size() && stat[close + 3] != ' ' && stat[close + 3] != '\n') {
    return std::nullopt;
  }
  return state;
}

std::optional<std::uint32_t> SentinelWatch::look() {
  const std::uint32_t window = r_.heldWindow();
  // Nothing held: a stop costs the user nothing, and /proc is not read at all.
  const auto state = window != 0 ? r_.parentState() : std::nullopt;
  // 'T' is a stop by signal, 't' one by a debugger.
  if (!state || (*state != 'T' && *state != 't')) {
    stoppedSince_.reset();
    return std::nullopt;
  }
  const double now = r_.now();
  if (!stoppedSince_) stoppedSince_ = now;
  if (now - *stoppedSince_ < kStoppedSeconds) return std::nullopt;
  return window;
}

std::unique_ptr<KeyboardSentinel> KeyboardSentinel::start(LetGo letGo, std::string& error,
                                                          int keep) {
  void* memory =
      mmap(nullptr, sizeof(Page), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    error = "no shared page for the keyboard sentinel";
    return nullptr;
  }
  auto* page = new (memory) Page;
  const pid_t parent = getpid();
  // Made before the fork, so that the child allocates nothing until it must act.
  const std::string statPath = "/proc/" + std::to_string(parent) + "/stat";
  const pid_t child = fork();
  if (child < 0) {
    page->~Page();
    munmap(memory, sizeof(Page));
    error = "the keyboard sentinel could not be started";
    return nullptr;
  }
  if (child == 0) runSentinel(parent, statPath, page->heldWindow, page->acted, letGo, keep);
  return std::unique_ptr<KeyboardSentinel>(new KeyboardSentinel(page, child));
}

KeyboardSentinel::~KeyboardSentinel() {
  kill(child_, SIGKILL);
  while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
  }
  page_->~Page();
  munmap(page_, sizeof(Page));
}

void KeyboardSentinel::publishHold(std::uint32_t window) {
  page_->heldWindow.store(window, std::memory_order_release);
}

bool KeyboardSentinel::acted() const {
  return page_->acted.load(std::memory_order_acquire) != 0;
}

}  // namespace tolvane::system
