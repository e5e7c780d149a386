// The whole `tolvane tolvane://…` hand-off as a compositor's key binding runs it: process start,
// connection, line, acknowledgement, exit. The bench serves a real instance socket of its own
// on a private runtime folder, so no desktop is needed.
//
//   tolvane-handoff-bench [path/to/tolvane] [runs]
//
// Prints the median, the fastest and the slowest run in milliseconds, wall time and the CPU time
// the process used (user and system: what a loaded machine cannot inflate by making it wait),
// and how many were acknowledged.
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "backends/system/single_instance.h"

extern char** environ;

namespace {

constexpr const char* kDisplay = ":bench";

// Serves the instance until `stop`, as the desktop's main loop does, woken by its descriptors.
void serve(tolvane::system::SingleInstance& instance, const std::atomic<bool>& stop,
           std::atomic<int>& taken) {
  while (!stop) {
    std::vector<pollfd> watched;
    for (int fd : instance.descriptors())
      watched.push_back({.fd = fd, .events = POLLIN, .revents = 0});
    ::poll(watched.data(), watched.size(), 50);
    taken += static_cast<int>(instance.service(0).size());
  }
}

struct Run {
  double wallMs = 0;
  double cpuMs = 0;
  bool acknowledged = false;
};

double millis(const timeval& time) {
  return time.tv_sec * 1e3 + time.tv_usec / 1e3;
}

// One hand-off, whole process.
Run handOff(const std::string& tolvane) {
  std::string url = "tolvane://settings";
  char* argv[] = {const_cast<char*>("tolvane"), url.data(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (::posix_spawn(&pid, tolvane.c_str(), nullptr, nullptr, argv, environ) != 0) return {};
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  return {.wallMs = took.count(),
          .cpuMs = millis(usage.ru_utime) + millis(usage.ru_stime),
          .acknowledged = WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string tolvane = argc > 1 ? argv[1] : TOLVANE_EXECUTABLE;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 101;
  // A wrong path would otherwise be timed as a string of instant failures.
  if (::access(tolvane.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "handoff-bench: no executable at %s\n", tolvane.c_str());
    return 2;
  }
  char pattern[] = "/tmp/tolvane-handoff-XXXXXX";
  const char* runtime = ::mkdtemp(pattern);
  if (!runtime) return 1;
  ::setenv("XDG_RUNTIME_DIR", runtime, 1);
  ::setenv("DISPLAY", kDisplay, 1);
  std::string error;
  auto instance = tolvane::system::SingleInstance::claim(runtime, kDisplay, error);
  if (!instance) {
    std::fprintf(stderr, "handoff-bench: %s\n", error.c_str());
    return 1;
  }
  std::atomic<bool> stop = false;
  std::atomic<int> taken = 0;
  std::thread server(serve, std::ref(*instance), std::cref(stop), std::ref(taken));
  std::vector<double> wall;
  std::vector<double> cpu;
  int acknowledged = 0;
  for (int i = 0; i < runs; ++i) {
    const Run run = handOff(tolvane);
    wall.push_back(run.wallMs);
    cpu.push_back(run.cpuMs);
    acknowledged += run.acknowledged ? 1 : 0;
  }
  stop = true;
  server.join();
  instance.reset();
  std::filesystem::remove_all(runtime);
  std::printf(
      "hand-off, whole process, %d runs: wall median %.2f ms (fastest %.2f, slowest %.2f), "
      "CPU median %.2f ms; %d acknowledged, %d taken\n",
      runs, median(wall), *std::min_element(wall.begin(), wall.end()),
      *std::max_element(wall.begin(), wall.end()), median(cpu), acknowledged, taken.load());
  return acknowledged == runs ? 0 : 1;
}
