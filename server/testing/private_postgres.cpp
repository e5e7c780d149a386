// The private PostgreSQL cluster: initdb and pg_ctl run through the shell, as "nobody" when we
// are root, with their output kept in the cluster's folder for the failure message.
#include "testing/private_postgres.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

namespace tolvane::server::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSuperuser = "tolvane";
constexpr std::size_t kLogTailLength = 3000;

}  // namespace

std::optional<std::string> PrivatePostgres::serverBinaries() {
  std::error_code error;
  std::map<int, std::string> installed;  // by major version
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const fs::path bin = entry.path() / "bin";
    if (::access((bin / "initdb").c_str(), X_OK) == 0)
      installed[std::atoi(entry.path().filename().c_str())] = bin;
  }
  if (installed.empty()) return std::nullopt;
  return installed.rbegin()->second;
}

PrivatePostgres::PrivatePostgres() {
  const std::optional<std::string> binaries = serverBinaries();
  if (!binaries) {
    whyNot_ = "PostgreSQL server binaries not installed";
  } else if (folder_.path().empty()) {
    whyNot_ = "cannot make a temporary folder";
  } else {
    binaries_ = *binaries;
    running_ = start();
  }
}

PrivatePostgres::~PrivatePostgres() {
  // Immediate: the cluster is removed next, so nothing needs to reach its files first.
  if (running_) run("pg_ctl -D data -m immediate -w stop");
}

bool PrivatePostgres::start() {
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::chown(folder_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
      whyNot_ = "running as root and cannot hand the cluster's folder to user nobody";
      return false;
    }
  }
  if (!run("initdb -D data -U " + std::string(kSuperuser) +
           " -A trust -E UTF8 --locale=C --no-sync")) {
    whyNot_ = "initdb failed: " + logTail();
    return false;
  }
  // No TCP at all: the socket in our own folder is the only way in.
  if (!run("pg_ctl -D data -l server.log -o \"-c listen_addresses='' -k " + folder_.path() +
           "\" -w -t 60 start")) {
    whyNot_ = "the PostgreSQL server did not start: " + logTail();
    return false;
  }
  return true;
}

bool PrivatePostgres::run(const std::string& command) {
  // The folder's name is mkdtemp's letters and digits: nothing in it needs quoting.
  const std::string as = ::geteuid() == 0 ? "runuser -u nobody -- " : "";
  const std::string line = "cd " + folder_.path() + " && " + as + binaries_ + "/" + command +
                           " </dev/null >>commands.log 2>&1";
  return std::system(line.c_str()) == 0;
}

std::string PrivatePostgres::logTail() const {
  std::string text;
  for (const char* log : {"/commands.log", "/server.log"}) {
    std::ifstream file(folder_.path() + log, std::ios::binary);
    text.append(std::istreambuf_iterator<char>(file), {});
  }
  return text.substr(text.size() - std::min(text.size(), kLogTailLength));
}

std::string PrivatePostgres::url(const std::string& database) const {
  return "postgresql:///" + database + "?host=" + folder_.path() + "&user=" + kSuperuser;
}

std::string PrivatePostgres::createDatabase(const std::string& name) {
  return execute("CREATE DATABASE " + name) ? url(name) : std::string();
}

bool PrivatePostgres::execute(const std::string& sql, const std::string& database) {
  const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(url(database).c_str()),
                                                                &PQfinish);
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    whyNot_ = PQerrorMessage(connection.get());
    return false;
  }
  const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()),
                                                             &PQclear);
  const ExecStatusType status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
  whyNot_ = PQresultErrorMessage(result.get());
  return false;
}

}  // namespace tolvane::server::testing
