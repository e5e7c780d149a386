// Text lookups happen on every draw of every view.
#include <benchmark/benchmark.h>

#include "backends/sim/sim_preference_store.h"
#include "backends/system/posix_file_system.h"
#include "localization/l10n.h"

namespace tolvane {
namespace {

void BM_L10nString(benchmark::State& state) {
  sim::SimPreferenceStore preferences;
  system::PosixFileSystem files;
  FrameworkLanguage framework(files);
  L10n l10n(preferences, framework, [] { return std::vector<std::string>{}; });
  l10n.apply(state.range(0) ? std::optional<std::string>("de") : std::nullopt);
  const char* keys[] = {"menu.open", "hud.overflow", "sw.cmdTabSub", "no.such.key"};
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(l10n.string(keys[i++ & 3]));
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) ? "German" : "English");
}
BENCHMARK(BM_L10nString)->Arg(0)->Arg(1);

}  // namespace
}  // namespace tolvane
