// The application's lifecycle work on the main thread: launch with the warm-up of every
// application, and one quiet background pass.
#include <benchmark/benchmark.h>

#include <chrono>

#include "simulator.h"
#include "support/sim_services.h"
#include "support/temp_dir.h"
#include "windows/background_refresh.h"

namespace tolvane {
namespace {

constexpr Pid kFirstPid = 100;
constexpr int kApps = 50;
constexpr int kWindowsPerApp = 3;

simtool::Scenario fiftyApps() {
  simtool::Scenario scenario;
  std::uint32_t number = 1000;
  for (Pid pid = kFirstPid; pid < kFirstPid + kApps; ++pid) {
    simtool::ScenarioApp app;
    app.app = {.pid = pid, .localizedName = "App", .bundleID = "org.example.app"};
    app.frontmost = pid == kFirstPid;
    for (int i = 0; i < kWindowsPerApp; ++i) {
      app.windows.push_back({.number = ++number, .pid = pid, .title = "Document"});
    }
    scenario.apps.push_back(app);
  }
  return scenario;
}

// From the entry point to the switcher taking the keys: launch order, focus tracker seeding,
// and the warm-up that enumerates each of the 50 applications (150 windows).
void BM_LaunchAndWarmUp50Apps(benchmark::State& state) {
  const auto scenario = fiftyApps();
  test::TempDir temp;
  for (auto _ : state) {
    state.PauseTiming();
    sim::SimClock clock;
    simtool::Trace trace(clock);
    auto simulator = std::make_unique<simtool::Simulator>(
        scenario, clock, trace, simtool::SimulatorOptions{.stateFolder = temp.path()});
    state.ResumeTiming();
    simulator->run();
    state.PauseTiming();
    if (!simulator->app().isWarmedUp()) state.SkipWithError("the warm-up did not finish");
    simulator.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LaunchAndWarmUp50Apps)->Unit(benchmark::kMillisecond);

// A pass over 50 quiet applications: nothing changed, so only the frontmost and the previous
// frontmost are refreshed (the pass logs "apps=2/50"). Every sixth pass is a full one; those are
// left out of the figure.
void BM_QuietBackgroundPassOver50Apps(benchmark::State& state) {
  test::WindowServices world;
  world.preferences.set("testerModeEnabled", true);
  std::uint32_t number = 1000;
  for (Pid pid = kFirstPid; pid < kFirstPid + kApps; ++pid) {
    world.desktop.addApp({.pid = pid, .localizedName = "App", .bundleID = "org.example.app"});
    for (int i = 0; i < kWindowsPerApp; ++i) {
      world.desktop.addWindow({.number = ++number, .pid = pid, .title = "Document"});
    }
  }
  world.desktop.setFrontmost(kFirstPid);
  world.desktop.setFrontmost(kFirstPid + 1);
  BackgroundRefresh refresh({world.desktop, world.desktop, world.resolver, world.enumerator,
                             world.settings, world.preferences, world.loop, world.clock,
                             world.log});
  refresh.start();
  world.loop.advance(BackgroundRefresh::kPassPauseSeconds + 1);  // the first, full pass
  Pid front = kFirstPid + 1;
  for (auto _ : state) {
    for (;;) {
      // The user moves between two applications, so each pass has a frontmost and a distinct
      // previous frontmost to refresh; the activation itself is not part of the pass.
      front = front == kFirstPid ? kFirstPid + 1 : kFirstPid;
      world.desktop.setFrontmost(front);
      world.loop.advance(0);
      const auto lines = world.logLines.size();
      const auto start = std::chrono::steady_clock::now();
      world.loop.advance(BackgroundRefresh::kPassPauseSeconds);
      const auto end = std::chrono::steady_clock::now();
      const bool quiet = world.logLines.size() > lines &&
                         world.logLines.back().find("full=false apps=2/") != std::string::npos;
      if (!quiet) continue;
      state.SetIterationTime(std::chrono::duration<double>(end - start).count());
      break;
    }
  }
  refresh.stop();
}
BENCHMARK(BM_QuietBackgroundPassOver50Apps)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tolvane
