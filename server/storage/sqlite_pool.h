// A small pool of SQLite connections to one database file, guarded by a health check of the
// file before every operation: a vanished file, a file replaced under us (a restored backup)
// and a file made read-only are noticed there, never by crashing inside SQLite.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/sqlite_handles.h"

namespace tolvane::server::sqlite {

enum class Access { read, write };

/// Which file a path names: a restored backup at the same path is a different file.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

class Pool {
 public:
  /// Makes a freshly opened connection ready (pragmas, schema); false with `whyNot` set when
  /// the file cannot serve as our database.
  using Prepare = std::function<bool(sqlite3*, std::string& whyNot)>;

  Pool(std::string path, int size, Prepare prepare);
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  ~Pool();

  /// Opens the first connection, creating the file when it does not exist. Later connections
  /// never create it: a vanished database must not come back empty.
  bool open(std::string& whyNot);

  /// One connection lent for one operation; returned to the pool when the lease ends.
  class Lease {
   public:
    Lease(Pool* pool, Connection connection) : pool_(pool), connection_(std::move(connection)) {}
    Lease(Lease&& other) noexcept
        : pool_(std::exchange(other.pool_, nullptr)),
          connection_(std::move(other.connection_)),
          discarded_(other.discarded_) {}
    Lease& operator=(Lease&&) = delete;
    ~Lease();
    Connection& connection() { return connection_; }
    /// The connection failed in a way that may outlive this operation: close it instead of
    /// lending it again, so the next operation starts on a fresh one.
    void discard() { discarded_ = true; }

   private:
    Pool* pool_;
    Connection connection_;
    bool discarded_ = false;
  };

  /// A connection for an operation of kind `access`, after the file's health check; nothing,
  /// with `whyNot` set, when the database cannot answer it now.
  std::optional<Lease> acquire(Access access, std::string& whyNot);

  const std::string& path() const { return path_; }

 private:
  Connection connect(int flags, std::string& whyNot);
  void giveBack(Connection connection, bool discarded);
  // Waits until every lent connection is back, then closes them all.
  void closeAllLocked(std::unique_lock<std::mutex>& lock);
  // Another file stands at the path: closes the connections to the old one and removes the
  // old one's companion files.
  void replacedLocked(std::unique_lock<std::mutex>& lock);
  void rememberCompanionFiles();

  const std::string path_;
  const int size_;
  const Prepare prepare_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Connection> idle_;
  int opened_ = 0;  // idle, lent, and being opened
  int lent_ = 0;
  // The file the open connections belong to; empty when none is open.
  std::optional<FileIdentity> identity_;
  // Our "-wal" and "-shm" files as last seen: after the database file moved they belong to
  // the old file, and SQLite would replay that old log into whatever now stands at the path.
  std::vector<FileIdentity> companions_;
};

}  // namespace tolvane::server::sqlite
