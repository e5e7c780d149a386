// Usage reporting: what record() costs the thread that calls it, and a full flush of one batch
// to the loopback service.
#include <benchmark/benchmark.h>

#include "platform/sim/sim_preference_store.h"
#include "platform/sim/sim_run_loop.h"
#include "platform/sim/sim_system.h"
#include "platform/system/curl_http_client.h"
#include "platform/system/posix_file_system.h"
#include "platform/system/real_clock.h"
#include "reporting/improve_reporter.h"
#include "support/mock_backend.h"
#include "support/temp_dir.h"

namespace tolvane {
namespace {

struct Rig {
  test::TempDir temp;
  system::PosixFileSystem files;
  system::RealClock clock;
  sim::SimClock loopClock;
  sim::SimRunLoop loop{loopClock};
  sim::SimPreferenceStore preferences;
  sim::SimRandom random;
  sim::SimSystemInfo system;
  test::MockBackend mock;
  system::CurlHttpClient http{"Tolvane/bench"};
  ImproveReporter reporter{{.preferences = preferences,
                            .http = http,
                            .clock = clock,
                            .runLoop = loop,
                            .files = files,
                            .random = random,
                            .system = system,
                            .bundle = {},
                            .cloud = CloudConfig(mock.baseURL()),
                            .queueFile = temp.path() + "/brenmoor/improve-queue.jsonl"}};
};

const EventProperties kActivation = {{"ok", true},
                                     {"app", std::string("org.gnome.Nautilus")},
                                     {"method", std::string("axRaise")},
                                     {"minimized", false},
                                     {"ms", std::int64_t{12}}};

void BM_RecordOnCallerThread(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) rig.reporter.record("activate.result", kActivation);
  rig.reporter.drain();  // after the timed loop: only the caller's share is measured
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordOnCallerThread);

void BM_FlushBatchOf200ToLoopback(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 200; ++i) rig.reporter.record("activate.result", kActivation);
    rig.reporter.drain();
    state.ResumeTiming();
    if (!rig.reporter.flushNow(true)) state.SkipWithError("flush did not finish");
  }
}
BENCHMARK(BM_FlushBatchOf200ToLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tolvane
