// The switcher on the key press: the first trigger press of a session, and a navigation key
// during one.
#include <benchmark/benchmark.h>

#include "model/key_codes.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

// 50 applications of 10 windows each, cached, with a full focus history.
void populate(test::SwitcherServices& world) {
  std::uint32_t number = 1000;
  for (Pid pid = 100; pid < 150; ++pid) {
    world.desktop.addApp({.pid = pid, .localizedName = "App", .bundleID = "org.example.app"});
    for (int i = 0; i < 10; ++i) world.desktop.addWindow({.number = ++number, .pid = pid});
    world.refresh(pid);
  }
  for (std::uint32_t n = 1; n <= MRUOrder::kCapacity; ++n) world.tracker.order().bump(n + 990);
  world.engine.setWarmed();
  world.engine.updateEnabled();
  world.tap.modifier(keycode::kLeftCommand, true, eventflags::kCommand);
}

void BM_FirstTriggerPressWith500Windows(benchmark::State& state) {
  test::SwitcherServices world;
  populate(world);
  for (auto _ : state) {
    world.tap.deliver(KeyEventType::keyDown, keycode::kTab, eventflags::kCommand);
    state.PauseTiming();
    world.tap.deliver(KeyEventType::keyDown, keycode::kEscape, eventflags::kCommand);
    world.loop.runUntilIdle();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstTriggerPressWith500Windows)->Unit(benchmark::kMicrosecond);

// With the panel on screen, so each move also redraws the highlight.
void BM_NavigationKeyDuringASession(benchmark::State& state) {
  test::SwitcherServices world;
  populate(world);
  world.tap.deliver(KeyEventType::keyDown, keycode::kTab, eventflags::kCommand);
  world.loop.advance(SwitcherEngine::kShowDelaySeconds);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        world.tap.deliver(KeyEventType::keyDown, keycode::kDown, eventflags::kCommand));
  }
}
BENCHMARK(BM_NavigationKeyDuringASession);

}  // namespace
}  // namespace tolvane
