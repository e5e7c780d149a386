// Cost of one diagnostic-log line on a real disk, from one thread and from two contending ones.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "backends/system/posix_file_system.h"
#include "backends/system/real_clock.h"
#include "diagnostics/debug_log.h"

namespace tolvane {
namespace {

// One log shared by every benchmark thread, as the main thread and the stall watchdog share the
// application's log. Its folder is removed when the program exits.
struct SharedLog {
  SharedLog() : root(makeRoot()), log(files, clock, root + "/Tolvane") {}
  ~SharedLog() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }

  static std::string makeRoot() {
    char pattern[] = "/tmp/tolvane-log-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made ? made : "/tmp/tolvane-log-bench";
  }

  std::string root;
  system::PosixFileSystem files;
  system::RealClock clock;
  DebugLog log;
};

SharedLog& sharedLog() {
  static SharedLog shared;
  return shared;
}

void BM_LogLine(benchmark::State& state) {
  DebugLog& log = sharedLog().log;
  // A typical line: about 80 characters, as the activation and enumeration messages are.
  const std::string message =
      "activate: pid 48213 window 0x3a00007 method axRaise ok after 12 ms (thread " +
      std::to_string(state.thread_index()) + ")";
  for (auto _ : state) log.log(message);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLine)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
}  // namespace tolvane
