// Usage reporting: what record() costs the thread that calls it, and a full flush of one batch
// to the loopback service.
#include <benchmark/benchmark.h>

#include "backends/sim/sim_run_loop.h"
#include "backends/system/curl_http_client.h"
#include "backends/system/real_clock.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

struct Rig : test::ReporterServices {
  system::RealClock clock;
  sim::SimClock loopClock;
  sim::SimRunLoop loop{loopClock};
  system::CurlHttpClient http{"Tolvane/bench"};
  ImproveReporter reporter{dependencies(http, clock, loop)};
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
