// The private PostgreSQL cluster: initdb and pg_ctl run through the shell, as "nobody" when
// we are root, with their output kept in the cluster's folder for the failure message.
#include "testing/private_postgres.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace tolvane::server::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSuperuser = "tolvane";

// The end of the file at `path`: enough of a log to say what went wrong.
std::string tailOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  const std::string text = content.str();
  return text.substr(text.size() - std::min<std::size_t>(text.size(), 1500));
}

}  // namespace

std::optional<std::string> PrivatePostgres::serverBinaries() {
  std::error_code error;
  std::optional<std::pair<int, std::string>> newest;
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const fs::path bin = entry.path() / "bin";
    if (::access((bin / "initdb").c_str(), X_OK) != 0 ||
        ::access((bin / "pg_ctl").c_str(), X_OK) != 0)
      continue;
    const int version = std::atoi(entry.path().filename().c_str());
    if (!newest || version > newest->first) newest = std::pair(version, bin.string());
  }
  if (!newest) return std::nullopt;
  return newest->second;
}

PrivatePostgres::PrivatePostgres() {
  const std::optional<std::string> binaries = serverBinaries();
  if (!binaries) {
    whyNot_ = "PostgreSQL server binaries not installed";
    return;
  }
  if (folder_.path().empty()) {
    whyNot_ = "cannot make a temporary folder";
    return;
  }
  running_ = start(*binaries);
}

PrivatePostgres::~PrivatePostgres() {
  // Immediate: the cluster is removed next, so nothing needs to reach its files first.
  if (running_) run(binaries_ + "/pg_ctl -D " + folder_.path() + "/data -m immediate -w stop");
}

bool PrivatePostgres::start(const std::string& binaries) {
  binaries_ = binaries;
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::chown(folder_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
      whyNot_ = "running as root and cannot hand the cluster's folder to user nobody";
      return false;
    }
    asUser_ = "setpriv --reuid=" + std::to_string(nobody->pw_uid) +
              " --regid=" + std::to_string(nobody->pw_gid) + " --clear-groups ";
  }
  const std::string data = folder_.path() + "/data";
  if (!run(binaries + "/initdb -D " + data + " -U " + kSuperuser +
           " -A trust -E UTF8 --locale=C --no-sync")) {
    whyNot_ = "initdb failed: " + logTail();
    return false;
  }
  // No TCP at all: the socket in our own folder is the only way in.
  if (!run(binaries + "/pg_ctl -D " + data + " -l " + folder_.path() +
           "/server.log -o \"-c listen_addresses='' -k " + folder_.path() + "\" -w -t 60 start")) {
    whyNot_ = "the PostgreSQL server did not start: " + logTail();
    return false;
  }
  return true;
}

bool PrivatePostgres::run(const std::string& command) {
  // The folder's name is mkdtemp's and the binaries' the package's: nothing to quote.
  const std::string line =
      "cd " + folder_.path() + " && " + asUser_ + command + " </dev/null >>commands.log 2>&1";
  return std::system(line.c_str()) == 0;
}

std::string PrivatePostgres::logTail() const {
  return tailOf(folder_.path() + "/commands.log") + tailOf(folder_.path() + "/server.log");
}

std::string PrivatePostgres::url(const std::string& database, const std::string& user) const {
  return "postgresql:///" + database + "?host=" + folder_.path() +
         "&user=" + (user.empty() ? kSuperuser : user);
}

std::string PrivatePostgres::createDatabase(const std::string& name) {
  return execute("CREATE DATABASE " + name) ? url(name) : std::string();
}

bool PrivatePostgres::execute(const std::string& sql, const std::string& database) {
  struct Closer {
    void operator()(PGconn* connection) const { PQfinish(connection); }
  };
  struct Clearer {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  const std::unique_ptr<PGconn, Closer> connection(PQconnectdb(url(database).c_str()));
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    whyNot_ = PQerrorMessage(connection.get());
    return false;
  }
  const std::unique_ptr<PGresult, Clearer> result(PQexec(connection.get(), sql.c_str()));
  const ExecStatusType status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
  whyNot_ = PQresultErrorMessage(result.get());
  return false;
}

}  // namespace tolvane::server::testing
