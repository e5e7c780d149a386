// Speed of the focus history on the key-press path: sorting a snapshot, promoting a window.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "focus/mru_order.h"

namespace tolvane {
namespace {

std::vector<SwitchWindow> makeWindows(int count) {
  std::vector<SwitchWindow> windows;
  windows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    windows.emplace_back(SwitchWindow::Fields{.id = static_cast<std::uint32_t>(1000 + i * 7),
                                              .pid = 100 + i / 10,
                                              .title = "Window " + std::to_string(i),
                                              .appName = "App"});
  }
  return windows;
}

// A full history whose numbers are spread over the windows, so about half the windows of the
// smaller lists have a rank and the rest fall back to the input order.
MRUOrder fullHistory() {
  MRUOrder order;
  for (std::uint32_t i = 0; i < MRUOrder::kCapacity; ++i) order.bump(1000 + i * 14);
  return order;
}

void BM_SortedAgainstFullHistory(benchmark::State& state) {
  const auto windows = makeWindows(static_cast<int>(state.range(0)));
  const auto order = fullHistory();
  for (auto _ : state) benchmark::DoNotOptimize(order.sorted(windows));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SortedAgainstFullHistory)->Arg(100)->Arg(1000)->Arg(10000);

void BM_BumpOnFullHistory(benchmark::State& state) {
  auto order = fullHistory();
  std::uint32_t next = 1'000'000;
  for (auto _ : state) {
    // Alternate between a number deep in the history and a new one, so both paths are timed.
    order.bump(order.ids().back());
    order.bump(next++);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_BumpOnFullHistory);

}  // namespace
}  // namespace tolvane
