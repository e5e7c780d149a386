// POSIX file operations with every descriptor owned by RAII and every error a result.
#include "backends/system/posix_file_system.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <utility>

#include "backends/system/unique_fd.h"

namespace tolvane::system {

namespace {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool isRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

LinkFacts::Kind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return LinkFacts::Kind::regular;
  if (S_ISDIR(mode)) return LinkFacts::Kind::directory;
  if (S_ISLNK(mode)) return LinkFacts::Kind::symlink;
  return LinkFacts::Kind::other;
}

// Six characters from 64 that are safe in any file name. Unpredictable names only spare
// retries: O_EXCL keeps every name safe, so a counter stands in when the kernel has no random
// bytes yet (early boot).
std::string randomSuffix() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  static std::atomic<std::uint64_t> counter{0};
  unsigned char bytes[6] = {};
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    std::uint64_t mixed = (static_cast<std::uint64_t>(::getpid()) << 16) ^ counter++;
    for (auto& byte : bytes) {
      byte = static_cast<unsigned char>(mixed);
      mixed >>= 6;
    }
  }
  std::string suffix;
  for (unsigned char byte : bytes) suffix += kAlphabet[byte % 64];
  return suffix;
}

class PosixAppendFile final : public AppendFile {
 public:
  explicit PosixAppendFile(UniqueFd fd) : fd_(std::move(fd)) {}
  bool append(std::string_view bytes) override { return writeAll(fd_.get(), bytes); }
  std::optional<std::uint64_t> endOffset() override {
    const off_t end = ::lseek(fd_.get(), 0, SEEK_END);
    if (end < 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
  }

 private:
  UniqueFd fd_;
};

}  // namespace

bool PosixFileSystem::exists(const std::string& path) const {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::isDirectory(const std::string& path) const {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::createDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = parentFolder(path);
  if (parent != path && !createDirectories(parent)) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::optional<std::string> PosixFileSystem::readFile(const std::string& path) const {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return content;
}

BoundedRead PosixFileSystem::readRegularFile(const std::string& path, std::size_t maxBytes) const {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever. The type
  // is checked on the open descriptor, so nothing can swap the file between check and read.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    return {.failure = errno == ENOENT ? ReadFailure::missing : ReadFailure::unreadable};
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return {.failure = ReadFailure::unreadable};
  if (!S_ISREG(st.st_mode)) return {.failure = ReadFailure::notRegularFile};
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return {.failure = ReadFailure::tooLarge};
  // The size may change while we read (or be reported as 0 by special file systems), so the
  // cap is enforced on the bytes actually read too.
  std::string content;
  char buffer[65536];
  while (content.size() <= maxBytes) {
    const std::size_t want = std::min(sizeof buffer, maxBytes + 1 - content.size());
    const ssize_t n = ::read(fd.get(), buffer, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {.failure = ReadFailure::unreadable};
    }
    if (n == 0) return {.content = std::move(content)};
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return {.failure = ReadFailure::tooLarge};
}

bool PosixFileSystem::writeFileSynced(const std::string& path, std::string_view bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd.valid()) return false;
  return writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
}

std::optional<std::string> PosixFileSystem::writeNewTemporaryFile(const std::string& besidePath,
                                                                  std::string_view bytes) {
  // A name someone else placed first (a file, or a link aiming our bytes elsewhere) makes
  // O_EXCL fail with EEXIST; a fresh random name is then tried.
  constexpr int kAttempts = 16;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string temporary = besidePath + ".tmp-" + randomSuffix();
    UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
      if (errno == EEXIST) continue;
      return std::nullopt;
    }
    if (writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0) return temporary;
    ::unlink(temporary.c_str());
    return std::nullopt;
  }
  return std::nullopt;
}

std::unique_ptr<AppendFile> PosixFileSystem::openForAppend(const std::string& path) {
  // O_NOFOLLOW: a link placed at the log's name must not send our lines to its target.
  // O_NONBLOCK: a FIFO there must not hold the opening thread; it is refused just below.
  UniqueFd fd(::open(path.c_str(),
                     O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                     0600));
  if (!fd.valid() || !isRegularFile(fd.get())) return nullptr;
  return std::make_unique<PosixAppendFile>(std::move(fd));
}

std::optional<LinkFacts> PosixFileSystem::linkFacts(const std::string& path) const {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return LinkFacts{.kind = kindOf(st.st_mode),
                   .owner = static_cast<std::uint32_t>(st.st_uid),
                   .permissions = static_cast<std::uint32_t>(st.st_mode & 07777)};
}

std::optional<std::string> PosixFileSystem::linkTarget(const std::string& path) const {
  char text[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), text, sizeof text);
  // A text that fills the buffer may have been cut short.
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof text) return std::nullopt;
  return std::string(text, static_cast<std::size_t>(n));
}

bool PosixFileSystem::rename(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  // The rename itself must reach the disk too, or a power cut could bring back the old name.
  UniqueFd dir(::open(parentFolder(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
  return true;
}

bool PosixFileSystem::remove(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

}  // namespace tolvane::system
