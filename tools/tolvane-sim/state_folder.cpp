// Removing the state folder from a signal handler: no allocation, no locks, no stdio, only
// system calls on descriptors and a path kept in a fixed buffer.
#include "state_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace tolvane::simtool {

namespace {

// The run's folder holds a few levels ("data/brenmoor/improve-queue.jsonl"); anything deeper
// is not ours and stays.
constexpr int kMaxDepth = 6;
// Another thread may still be writing while the handler runs; a few passes catch what it adds.
constexpr int kMaxPasses = 4;
constexpr std::array kTerminatingSignals = {SIGTERM, SIGINT, SIGHUP};

// Read by the handler. `armed` is set only after `folderPath` is complete, and cleared before
// the folder's owner goes away.
char folderPath[PATH_MAX];
std::atomic<bool> armed{false};
struct sigaction previousActions[kTerminatingSignals.size()];

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void removeContents(int folder, int depth);

bool removeEntry(int folder, const char* name, int depth) {
  if (unlinkat(folder, name, 0) == 0) return true;
  if ((errno != EISDIR && errno != EPERM) || depth == 0) return false;
  const int child = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (child < 0) return false;
  removeContents(child, depth - 1);
  close(child);
  return unlinkat(folder, name, AT_REMOVEDIR) == 0;
}

// Reading a folder while removing its entries may skip some, so the walk starts over until a
// pass removes nothing.
void removeContents(int folder, int depth) {
  alignas(dirent64) char buffer[1024];  // one per level: small enough for any thread's stack
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    bool removedAny = false;
    lseek(folder, 0, SEEK_SET);
    for (ssize_t size; (size = getdents64(folder, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < size;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
        at += entry->d_reclen;
        if (!isDotOrDotDot(entry->d_name) && removeEntry(folder, entry->d_name, depth)) {
          removedAny = true;
        }
      }
    }
    if (!removedAny) return;
  }
}

std::size_t signalIndex(int signal) {
  for (std::size_t i = 0; i < kTerminatingSignals.size(); ++i) {
    if (kTerminatingSignals[i] == signal) return i;
  }
  return 0;
}

void runPreviousHandler(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = previousActions[signalIndex(signal)];
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
  }
}

void removeFolderOnSignal(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  // The earlier handler goes first, as it may still write. The emergency restore ends by
  // raising the signal again with its default action; the signal stays blocked, and so
  // pending, until this handler returns.
  runPreviousHandler(signal, info, context);
  if (armed.load()) removeFolderTree(folderPath);
  // Whatever the earlier handler did, the process ends by the signal, as it would have.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  errno = savedErrno;
}

}  // namespace

bool removeFolderTree(const char* path) {
  const int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return errno == ENOENT;
  removeContents(folder, kMaxDepth);
  close(folder);
  return rmdir(path) == 0 || errno == ENOENT;
}

TemporaryStateFolder::TemporaryStateFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolvane-sim-XXXXXX";
  if (pattern.size() < sizeof folderPath && mkdtemp(pattern.data())) path_ = pattern;
}

TemporaryStateFolder::~TemporaryStateFolder() {
  armed.store(false);
  if (!path_.empty()) removeFolderTree(path_.c_str());
}

void TemporaryStateFolder::removeOnTerminatingSignals() {
  if (path_.empty() || armed.load()) return;
  std::memcpy(folderPath, path_.c_str(), path_.size() + 1);
  armed.store(true);
  struct sigaction action {};
  action.sa_sigaction = removeFolderOnSignal;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  // One terminating signal at a time: a second one waits until the first has ended everything.
  for (int signal : kTerminatingSignals) sigaddset(&action.sa_mask, signal);
  for (std::size_t i = 0; i < kTerminatingSignals.size(); ++i) {
    const int signal = kTerminatingSignals[i];
    // A signal the tool was started with ignored (nohup) stays ignored.
    if (sigaction(signal, nullptr, &previousActions[i]) != 0) continue;
    const auto& previous = previousActions[i];
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace tolvane::simtool
