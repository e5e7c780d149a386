// A private PostgreSQL cluster for tests and benchmarks: made with initdb in a temporary folder,
// reachable only through a unix socket in that folder (no TCP), stopped and removed with its
// owner. PostgreSQL refuses to run as root, so as root the server runs as user "nobody".
#pragma once

#include <optional>
#include <string>

#include "testing/temp_folder.h"

namespace tolvane::server::testing {

class PrivatePostgres {
 public:
  /// Starts the cluster; see `running` and `whyNot`.
  PrivatePostgres();
  PrivatePostgres(const PrivatePostgres&) = delete;
  PrivatePostgres& operator=(const PrivatePostgres&) = delete;
  /// Stops the server and removes the folder with the cluster in it.
  ~PrivatePostgres();

  /// The folder of the newest installed server binaries (initdb, pg_ctl); nothing when the
  /// PostgreSQL server is not installed.
  static std::optional<std::string> serverBinaries();

  bool running() const { return running_; }
  /// Why the cluster is not running: the end of initdb's or the server's log.
  const std::string& whyNot() const { return whyNot_; }

  /// The libpq URL of `database` in this cluster over the unix socket, as its superuser.
  std::string url(const std::string& database = "postgres") const;
  /// Creates an empty database named `name` (a plain SQL identifier: it is not quoted) and
  /// returns its URL; empty, with `whyNot` set, when it cannot.
  std::string createDatabase(const std::string& name);
  /// Runs SQL as the superuser in `database`; false, with `whyNot` set, on failure.
  bool execute(const std::string& sql, const std::string& database = "postgres");

 private:
  bool start();
  /// Runs `command` of the server binaries in the cluster's folder; false when it fails.
  bool run(const std::string& command);
  std::string logTail() const;

  TempFolder folder_{"tolvane-pg"};
  bool running_ = false;
  std::string binaries_;
  std::string whyNot_;
};

}  // namespace tolvane::server::testing
