// tolvane_server_load: tolvane-server under many clients, on SQLite and on PostgreSQL. Prints
// one table: per backend, request and number of clients, the requests per second and the
// median and 99th percentile latency. A measurement, not a test: nothing here judges speed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "load_cell.h"
#include "load_workload.h"
#include "testing/private_postgres.h"
#include "testing/server_process.h"
#include "testing/temp_folder.h"

namespace tolvane::server::bench {
namespace {

using testing::PrivatePostgres;
using testing::ServerProcess;

constexpr std::size_t kClientCounts[] = {1, 8, 64};
// Every cell takes its clients from the front of one list, made once per server.
constexpr std::size_t kMostClients = kClientCounts[std::size(kClientCounts) - 1];
constexpr double kDefaultSecondsPerCell = 3;

// Accounts are made before anything is measured: cheap hashing keeps that short. Every client
// comes from 127.0.0.1, so the limits per address are raised far beyond what the clients send;
// left as they are, the table would measure the limiter's 503s and its closed connections.
const std::vector<std::string> kServerOptions = {
    "--argon2-memory",           "256",     "--argon2-passes", "1",
    "--sign-in-limit",           "1000000", "--upload-limit",  "1000000000",
    "--connections-per-address", "100000"};

const char* const kUsage =
    "usage: tolvane_server_load [--seconds S] [--threads N] [--server PATH]\n"
    "\n"
    "  --seconds S    how long each cell runs (default 3)\n"
    "  --threads N    the server's --threads (default: its own, 64)\n"
    "  --server PATH  the tolvane-server executable (default: the one built beside this)\n";

struct Options {
  double secondsPerCell = kDefaultSecondsPerCell;
  /// The server's own default when empty.
  std::string serverThreads;
  std::string server = TOLVANE_SERVER_EXECUTABLE;
};

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 == argc) return false;
    const std::string value = argv[++i];
    if (option == "--seconds") {
      char* end = nullptr;
      options.secondsPerCell = std::strtod(value.c_str(), &end);
      if (*end != '\0' || !(options.secondsPerCell > 0 && options.secondsPerCell <= 600))
        return false;
    } else if (option == "--threads") {
      options.serverThreads = value;
    } else if (option == "--server") {
      options.server = value;
    } else {
      return false;
    }
  }
  return true;
}

std::string firstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

void printHeader(const Options& options) {
  const std::string threads =
      options.serverThreads.empty() ? "its default 64" : options.serverThreads;
  std::printf(
      "tolvane-server under load, %.3g s per cell: each client on its own thread, account, "
      "token\nand keep-alive connection; the server with %s threads and 8 PostgreSQL "
      "connections;\nsettings blob of %zu bytes, usage batch of %d events (%zu bytes)\n\n",
      options.secondsPerCell, threads.c_str(), settingsBlob(1).size(), kEventsPerBatch,
      usageBatchBytes());
  std::printf("%-10s  %-16s  %7s  %9s  %6s  %9s  %8s  %8s\n", "backend", "request", "clients",
              "requests", "failed", "req/s", "p50 ms", "p99 ms");
  std::fflush(stdout);
}

void printRow(const std::string& backend, Operation operation, std::size_t clients,
              const CellResult& cell) {
  std::printf("%-10s  %-16s  %7zu  %9zu  %6zu  %9.0f  %8.2f  %8.2f\n", backend.c_str(),
              operationName(operation), clients, cell.answered, cell.failed, cell.perSecond(),
              cell.p50Milliseconds, cell.p99Milliseconds);
  std::fflush(stdout);
  if (cell.failed > 0) {
    std::fprintf(stderr, "tolvane_server_load: %s %s: %zu failed, the first with status %d\n",
                 backend.c_str(), operationName(operation), cell.failed, cell.firstFailedStatus);
  }
}

void printSkipped(const std::string& backend, const std::string& why) {
  std::printf("%-10s  skipped: %s\n", backend.c_str(), why.c_str());
  std::fflush(stdout);
}

// Starts a server on `database` (its command-line options), makes the clients and fills the
// backend's rows. False when something failed (a skip has already been printed).
bool measureBackend(const std::string& backend, std::vector<std::string> database,
                    const Options& options) {
  std::string whyNot;
  database.insert(database.end(), kServerOptions.begin(), kServerOptions.end());
  if (!options.serverThreads.empty())
    database.insert(database.end(), {"--threads", options.serverThreads});
  const auto server = ServerProcess::start(options.server, database, whyNot);
  if (!server) {
    printSkipped(backend, "the server did not start: " + firstLine(whyNot));
    return false;
  }
  std::fprintf(stderr, "tolvane_server_load: %s: signing in %zu clients\n", backend.c_str(),
               kMostClients);
  auto clients = prepareClients(server->baseURL(), int(kMostClients), whyNot);
  if (!clients) {
    printSkipped(backend, "the clients could not sign in: " + firstLine(whyNot));
    return false;
  }
  bool allAnswered = true;
  for (const Operation operation : kOperations) {
    for (const std::size_t count : kClientCounts) {
      const CellResult cell =
          runCell(server->baseURL(), operation, *clients, count, options.secondsPerCell);
      printRow(backend, operation, count, cell);
      allAnswered = allAnswered && cell.failed == 0;
    }
  }
  return allAnswered;
}

bool measureSqlite(const Options& options) {
  const testing::TempFolder folder("tolvane-load");
  if (folder.path().empty()) {
    printSkipped("SQLite", "no temporary folder");
    return false;
  }
  return measureBackend("SQLite", {"--db", folder.path() + "/tolvane.db"}, options);
}

bool measurePostgres(const Options& options) {
  if (!PrivatePostgres::serverBinaries()) {
    printSkipped("PostgreSQL", "PostgreSQL server binaries not installed");
    return true;
  }
  std::fprintf(stderr, "tolvane_server_load: PostgreSQL: starting a private cluster\n");
  PrivatePostgres cluster;
  const std::string url = cluster.running() ? cluster.createDatabase("tolvane_load") : "";
  if (url.empty()) {
    printSkipped("PostgreSQL", "no private cluster: " + firstLine(cluster.whyNot()));
    return false;
  }
  return measureBackend("PostgreSQL", {"--postgres", url}, options);
}

}  // namespace
}  // namespace tolvane::server::bench

int main(int argc, char** argv) {
  using namespace tolvane::server::bench;
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  printHeader(options);
  const bool sqlite = measureSqlite(options);
  const bool postgres = measurePostgres(options);
  return sqlite && postgres ? 0 : 1;
}
