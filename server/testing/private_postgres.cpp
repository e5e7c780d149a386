// The private PostgreSQL cluster: initdb and pg_ctl run as child processes, as "nobody" when
// we are root, with their output kept in the cluster's folder for the failure message.
#include "testing/private_postgres.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace tolvane::server::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSuperuser = "tolvane";
constexpr std::size_t kLogTailLength = 1500;

bool executable(const fs::path& path) {
  return ::access(path.c_str(), X_OK) == 0;
}

std::string tailOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  std::string text = content.str();
  if (text.size() > kLogTailLength) text.erase(0, text.size() - kLogTailLength);
  return text;
}

}  // namespace

std::optional<std::string> PrivatePostgres::serverBinaries() {
  std::error_code error;
  std::optional<std::pair<int, std::string>> newest;
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const fs::path bin = entry.path() / "bin";
    if (!executable(bin / "initdb") || !executable(bin / "pg_ctl")) continue;
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
  if (running_) {
    run({binaries_ + "/pg_ctl", "-D", folder_.path() + "/data", "-m", "immediate", "-w", "stop"});
  }
}

bool PrivatePostgres::start(const std::string& binaries) {
  binaries_ = binaries;
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::chown(folder_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
      whyNot_ = "running as root and cannot hand the cluster's folder to user nobody";
      return false;
    }
    user_ = nobody->pw_uid;
    group_ = nobody->pw_gid;
  }
  const std::string data = folder_.path() + "/data";
  if (!run({binaries + "/initdb", "-D", data, "-U", kSuperuser, "-A", "trust", "-E", "UTF8",
            "--locale=C", "--no-sync"})) {
    whyNot_ = "initdb failed: " + logTail();
    return false;
  }
  // No TCP at all: the socket in our own folder is the only way in.
  const std::string options = "-c listen_addresses='' -k " + folder_.path();
  if (!run({binaries + "/pg_ctl", "-D", data, "-l", folder_.path() + "/server.log", "-o", options,
            "-w", "-t", "60", "start"})) {
    whyNot_ = "the PostgreSQL server did not start: " + logTail();
    return false;
  }
  return true;
}

bool PrivatePostgres::run(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const std::string log = folder_.path() + "/commands.log";
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    // Only async-signal-safe calls between fork and exec.
    if (user_ && (::setgroups(0, nullptr) != 0 || ::setgid(group_) != 0 || ::setuid(*user_) != 0)) {
      ::_exit(126);
    }
    const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int input = ::open("/dev/null", O_RDONLY);
    if (output < 0 || input < 0 || ::chdir(folder_.path().c_str()) != 0) ::_exit(126);
    ::dup2(input, STDIN_FILENO);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(output, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string PrivatePostgres::logTail() const {
  return tailOf(folder_.path() + "/commands.log") + tailOf(folder_.path() + "/server.log");
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
