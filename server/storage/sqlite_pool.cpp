// The SQLite connection pool and the health check of the database file.
#include "storage/sqlite_pool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tolvane::server::sqlite {
namespace {

// Long enough to ride out another process's write transaction, short enough that a stuck
// writer turns into an answer rather than a hung request.
constexpr int kBusyTimeoutMilliseconds = 5000;

std::optional<FileIdentity> identityOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{info.st_dev, info.st_ino};
}

// A new database file is made readable by its owner alone, whatever the umask: SQLite gives
// its "-wal" and "-shm" files the database file's mode. An existing file keeps its mode (the
// operator's choice), and any failure here is left for SQLite to report in its own words.
void createPrivately(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

}  // namespace

Pool::Pool(std::string path, int size, Prepare prepare)
    : path_(std::move(path)), size_(std::max(size, 1)), prepare_(std::move(prepare)) {}

Pool::~Pool() {
  std::unique_lock lock(mutex_);
  closeAllLocked(lock);
}

Pool::Lease::~Lease() {
  if (pool_) pool_->giveBack(std::move(connection_), discarded_);
}

bool Pool::open(std::string& whyNot) {
  createPrivately(path_);
  Connection first = connect(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, whyNot);
  if (!first) return false;
  std::lock_guard lock(mutex_);
  identity_ = identityOf(path_);
  rememberCompanionFiles();
  idle_.push_back(std::move(first));
  opened_ = 1;
  return true;
}

Connection Pool::connect(int flags, std::string& whyNot) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path_.c_str(), &raw,
                                 flags | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
  Connection connection(raw);
  if (rc != SQLITE_OK) {
    whyNot =
        "cannot open database " + path_ + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    return {};
  }
  sqlite3_busy_timeout(raw, kBusyTimeoutMilliseconds);
  if (!prepare_(raw, whyNot)) return {};
  return connection;
}

std::optional<Pool::Lease> Pool::acquire(Access access, std::string& whyNot) {
  struct stat info {};
  std::unique_lock lock(mutex_);
  if (::stat(path_.c_str(), &info) != 0) {
    // The connections stay open, holding on to the file: moved back, it carries on with its
    // log; and while they hold it, a file put in its place cannot get its inode number, so
    // the identity check below cannot mistake one for the other.
    const int error = errno;
    whyNot = error == ENOENT ? "database file missing: " + path_
                             : "database file unreadable: " + path_ + ": " + std::strerror(error);
    return std::nullopt;
  }
  if (identity_ && *identity_ != FileIdentity{info.st_dev, info.st_ino}) replacedLocked(lock);
  // Checked on the mode bits rather than by trying: root writes through any mode, and a
  // connection opened before the change keeps writing through its descriptor.
  if (access == Access::write && (info.st_mode & 0222) == 0) {
    whyNot = "database is read-only: " + path_;
    return std::nullopt;
  }
  changed_.wait(lock, [&] { return !idle_.empty() || opened_ < size_; });
  if (!idle_.empty()) {
    Connection connection = std::move(idle_.back());
    idle_.pop_back();
    ++lent_;
    return Lease(this, std::move(connection));
  }
  // Opening reads the schema and may wait on another process's lock: not under the mutex.
  ++opened_;
  ++lent_;
  lock.unlock();
  Connection connection = connect(SQLITE_OPEN_READWRITE, whyNot);
  lock.lock();
  if (!connection) {
    --opened_;
    --lent_;
    changed_.notify_all();
    return std::nullopt;
  }
  if (!identity_) identity_ = FileIdentity{info.st_dev, info.st_ino};
  rememberCompanionFiles();
  return Lease(this, std::move(connection));
}

void Pool::giveBack(Connection connection, bool discarded) {
  std::lock_guard lock(mutex_);
  --lent_;
  if (discarded) {
    --opened_;
    // The identity stays: should the file be replaced before the next connection opens, the
    // health check must still see the change.
    connection = Connection();
  } else {
    idle_.push_back(std::move(connection));
  }
  changed_.notify_all();
}

void Pool::closeAllLocked(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [&] { return lent_ == 0; });
  idle_.clear();
  opened_ = 0;
  changed_.notify_all();
}

void Pool::replacedLocked(std::unique_lock<std::mutex>& lock) {
  closeAllLocked(lock);
  // SQLite does not checkpoint a moved database on close, so its log and shared-memory files
  // stay behind under the path's names; only ours are removed, never files that came with
  // whatever was put in its place.
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string companion = path_ + suffix;
    const auto identity = identityOf(companion);
    if (identity &&
        std::find(companions_.begin(), companions_.end(), *identity) != companions_.end()) {
      ::unlink(companion.c_str());
    }
  }
  companions_.clear();
  identity_.reset();
}

void Pool::rememberCompanionFiles() {
  for (const char* suffix : {"-wal", "-shm"}) {
    const auto identity = identityOf(path_ + suffix);
    if (identity &&
        std::find(companions_.begin(), companions_.end(), *identity) == companions_.end()) {
      companions_.push_back(*identity);
    }
  }
}

}  // namespace tolvane::server::sqlite
