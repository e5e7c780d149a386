// Window discovery: the snapshot taken on the key press, a steady-state refresh, and the cost of
// each element id the Space resolver searches.
#include <benchmark/benchmark.h>

#include "support/sim_services.h"

namespace tolvane {
namespace {

void BM_SnapshotFiftyAppsOfTenWindows(benchmark::State& state) {
  test::WindowServices world;
  std::uint32_t number = 1000;
  for (Pid pid = 100; pid < 150; ++pid) {
    world.desktop.addApp({.pid = pid, .localizedName = "App", .bundleID = "org.example.app"});
    for (int i = 0; i < 10; ++i) {
      world.desktop.addWindow({.number = ++number, .pid = pid, .title = "A document title"});
    }
    world.refresh(pid);
  }
  // A full history: every window plus numbers of windows long gone.
  for (std::uint32_t n = 1; n <= MRUOrder::kCapacity; ++n) world.tracker.order().bump(n * 3 + 990);
  for (auto _ : state) benchmark::DoNotOptimize(world.enumerator.snapshot(std::nullopt, true));
}
BENCHMARK(BM_SnapshotFiftyAppsOfTenWindows)->Unit(benchmark::kMicrosecond);

void BM_RefreshSteadyApplicationOfTwentyWindows(benchmark::State& state) {
  test::WindowServices world;
  world.desktop.addApp({.pid = 100, .localizedName = "Editor", .bundleID = "org.example.editor"});
  for (std::uint32_t n = 1; n <= 20; ++n) {
    world.desktop.addWindow({.number = n, .pid = 100, .title = "Window"});
  }
  const auto map = world.resolver.windowIDsAcrossSpaces();
  for (auto _ : state) benchmark::DoNotOptimize(world.refresh(100, map));
}
BENCHMARK(BM_RefreshSteadyApplicationOfTwentyWindows)->Unit(benchmark::kMicrosecond);

void BM_ResolverSearchPerElementId(benchmark::State& state) {
  test::WindowServices world;
  world.desktop.addApp({.pid = 100});
  world.desktop.addWindow({.number = 7, .pid = 100, .space = 2});
  for (auto _ : state) {
    // Nothing is placed: each search walks all 30000 ids and gives up. Pruning against an empty
    // map forgets that, so the next search walks the range again.
    state.PauseTiming();
    world.resolver.prune({});
    state.ResumeTiming();
    benchmark::DoNotOptimize(world.resolver.resolve(100, {7}, 1e18));
  }
  state.SetItemsProcessed(state.iterations() * SpaceWindowResolver::kBruteForceLimit);
}
BENCHMARK(BM_ResolverSearchPerElementId)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tolvane
