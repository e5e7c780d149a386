// tolvane-server: the account, settings-sync and upload service of Tolvane.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/add_account.h"
#include "cli/command_line.h"
#include "http/http_server.h"
#include "service/service.h"
#include "storage/storage.h"

using namespace tolvane::server;

namespace {

std::mutex logLock;

void writeLine(std::FILE* stream, const std::string& line) {
  std::lock_guard guard(logLock);
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Signals are taken by one thread with sigwait: none interrupts a request mid-write.
sigset_t blockStopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return stopSignals;
}

std::unique_ptr<Storage> openStorage(const CommandLine& line, std::string& whyNot) {
  if (!line.sqlitePath.empty()) return openSqliteStorage(line.sqlitePath, whyNot);
  if (const std::string warning = postgresTransportWarning(line.postgresURL); !warning.empty())
    writeLine(stderr, "tolvane-server: " + warning);
  return openPostgresStorage(line.postgresURL, line.postgresConnections, whyNot);
}

int addAccountFromInput(Storage& storage, const CommandLine& line) {
  std::string whyNot;
  if (!addAccount(storage, line.addAccountEmail, std::cin, line.service.passwordCost, whyNot)) {
    std::fprintf(stderr, "tolvane-server: %s\n", whyNot.c_str());
    return 1;
  }
  writeLine(stderr, "tolvane-server: account added");
  return 0;
}

// Serves until a stop signal arrives or serving fails.
int serve(Storage& storage, const CommandLine& line, const sigset_t& stopSignals) {
  Service service(storage, line.service, wallSeconds);
  HttpServer http(service, line.http, [](const std::string& text) { writeLine(stdout, text); });
  if (std::string whyNot; !http.bind(whyNot)) {
    std::fprintf(stderr, "tolvane-server: %s\n", whyNot.c_str());
    return 1;
  }
  const bool tls = !line.http.certificateFile.empty();
  const bool sqlite = !line.sqlitePath.empty();
  writeLine(stderr, "tolvane-server: listening on " + std::string(tls ? "https" : "http") + "://" +
                        line.http.host + ":" + std::to_string(http.port()) + " with " +
                        (sqlite ? "SQLite " + line.sqlitePath : std::string("PostgreSQL")));
  std::thread stopper([&] {
    int received = 0;
    sigwait(&stopSignals, &received);
    writeLine(stderr, std::string("tolvane-server: stopping on ") + strsignal(received));
    http.stop();
  });
  const bool served = http.run();
  // run() also returns when serving failed: wake the signal thread so it can be joined (the
  // signal is blocked everywhere, so only its sigwait takes it).
  if (!served) {
    writeLine(stderr, "tolvane-server: serving stopped unexpectedly");
    kill(getpid(), SIGTERM);
  }
  stopper.join();
  return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string whyNot;
  const auto line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), whyNot);
  if (!line) {
    std::fprintf(stderr, "tolvane-server: %s\n\n%s", whyNot.c_str(), kUsage);
    return 2;
  }
  if (line->showHelp) return std::fputs(kUsage, stdout) < 0;
  if (line->showVersion) return std::printf("tolvane-server %s\n", TOLVANE_VERSION) < 0;
  const sigset_t stopSignals = blockStopSignals();
  const auto storage = openStorage(*line, whyNot);
  if (!storage) {
    std::fprintf(stderr, "tolvane-server: %s\n", whyNot.c_str());
    return 1;
  }
  if (!line->addAccountEmail.empty()) return addAccountFromInput(*storage, *line);
  return serve(*storage, *line, stopSignals);
}
