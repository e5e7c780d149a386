// Settings sync: what a push costs the main thread for the full set of synchronised settings,
// with few, many and the most (1,000 of the longest) excluded identifiers.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cloud/sync_payload.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

// Answers every request at once and keeps nothing: a recorded body per iteration would make the
// benchmark measure its own memory.
class AnsweringHttpClient final : public HttpClient {
 public:
  void send(HttpRequest, Completion completion) override {
    completion({200, R"({"version":1})", ""});
  }
};

// range(0) identifiers of range(1) bytes each.
std::vector<std::string> identifiers(const benchmark::State& state) {
  std::vector<std::string> ids;
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    std::string id = "org.example.application" + std::to_string(i);
    id.resize(static_cast<std::size_t>(state.range(1)), 'x');
    ids.push_back(std::move(id));
  }
  return ids;
}

void sizes(benchmark::internal::Benchmark* bench) {
  bench->Args({0, 40})->Args({100, 40})->Args({1000, 40})->Args({1000, 255});
}

// Serialising the settings: SyncPayload::from and the blob.
void BM_SnapshotBlob(benchmark::State& state) {
  test::SimServices world;
  world.settings.setExcludedBundleIDs(identifiers(state));
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto blob = SyncPayload::from(world.settings).blob();
    bytes = blob.size();
    benchmark::DoNotOptimize(blob.data());
  }
  state.counters["blobBytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SnapshotBlob)->Apply(sizes);

// A change that restores the last synchronised settings: the blob is made and compared, and
// nothing is sent.
void BM_PushOfUnchangedSettings(benchmark::State& state) {
  test::SyncServices world;
  AnsweringHttpClient http;
  CloudSync sync(world.dependencies(http));
  sync.start();
  world.settings.setExcludedBundleIDs(identifiers(state));
  world.preferences.set(prefkey::kCloudSyncLastBlob, sync.snapshotBlob());
  for (auto _ : state) {
    world.settings.setShowMinimizedWindows(true);  // schedules the push
    world.loop.advance(CloudSync::kPushDelaySeconds);
  }
}
BENCHMARK(BM_PushOfUnchangedSettings)->Apply(sizes);

// A change that goes out: schedule, blob, comparison, request body, and the commit when the
// reply comes. Parsing the reply belongs to the HTTP worker but runs here too.
void BM_PushOfChangedSettings(benchmark::State& state) {
  test::SyncServices world;
  AnsweringHttpClient http;
  CloudSync sync(world.dependencies(http));
  sync.start();
  world.settings.setExcludedBundleIDs(identifiers(state));
  bool shown = false;
  for (auto _ : state) {
    world.settings.setShowMinimizedWindows(shown = !shown);
    world.loop.advance(CloudSync::kPushDelaySeconds);
  }
  if (sync.status() != CloudSync::Status::idle) state.SkipWithError("the push did not commit");
}
BENCHMARK(BM_PushOfChangedSettings)->Apply(sizes);

}  // namespace
}  // namespace tolvane
