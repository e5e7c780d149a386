// The palette on every keystroke: re-ranking 1,000 windows and describing the rows, and the
// scorer alone on pre-folded and on raw text.
#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

#include "palette/fuzzy_match.h"
#include "palette/palette_view.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

// Window-like titles from a fixed seed: a document, a place, an application; some accented or
// not Latin at all, as real desktops have.
std::vector<SwitchWindow> windows(std::size_t count) {
  static constexpr std::array<const char*, 12> kDocs = {
      "Quarterly report", "Inbox",        "Résumé draft", "main.cpp",  "Budget 2026",
      "Straße map",       "日本語 notes", "README.md",    "Café menu", "Pull request #4521",
      "Meeting notes",    "index.html"};
  static constexpr std::array<const char*, 6> kPlaces = {"~/src/tolvane", "Downloads", "Work",
                                                         "Projets",       "/etc",      "Home"};
  static constexpr std::array<const char*, 8> kApps = {
      "Firefox",     "Terminal",         "Text Editor", "Files",
      "Thunderbird", "LibreOffice Calc", "Kate",        "Visual Studio Code"};
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  const auto next = [&state](std::size_t bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::size_t>((state >> 33) % bound);
  };
  std::vector<SwitchWindow> list;
  for (std::size_t i = 0; i < count; ++i) {
    std::string title =
        std::string(kDocs[next(kDocs.size())]) + " — " + kPlaces[next(kPlaces.size())];
    list.emplace_back(SwitchWindow::Fields{.id = static_cast<std::uint32_t>(1000 + i),
                                           .pid = 7,
                                           .title = std::move(title),
                                           .appName = kApps[next(kApps.size())]});
  }
  return list;
}

// A user typing, then deleting: each step is one keystroke.
const std::vector<std::string> kTyping = {"m", "me", "mee", "meet", "meeti", "meet", "mee", "me",
                                          "m", "r",  "re",  "rep",  "repo",  "fi",   "f"};

void BM_PaletteKeystroke1000Windows(benchmark::State& state) {
  const bool describe = state.range(0) != 0;
  test::SwitcherServices world;
  const auto list = windows(1000);
  PaletteModel model([&list] { return list; });
  model.reload();
  std::size_t step = 0;
  for (auto _ : state) {
    model.setQuery(kTyping[step++ % kTyping.size()]);
    if (describe)
      benchmark::DoNotOptimize(describePalette(model, world.l10n, true, std::nullopt, "Alt+Space"));
  }
  state.SetLabel(describe ? "refilter + describe" : "refilter");
}
BENCHMARK(BM_PaletteKeystroke1000Windows)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The opening: folding every candidate once.
void BM_PaletteReload1000Windows(benchmark::State& state) {
  const auto list = windows(1000);
  PaletteModel model([&list] { return list; });
  for (auto _ : state) model.reload();
}
BENCHMARK(BM_PaletteReload1000Windows)->Unit(benchmark::kMicrosecond);

void BM_FuzzyMatchPrefolded(benchmark::State& state) {
  const auto query = FoldedText::fold("rep");
  const auto candidate = FoldedText::fold("Quarterly report — ~/src/tolvane LibreOffice Calc");
  for (auto _ : state) benchmark::DoNotOptimize(FuzzyMatch::match(query, candidate));
}
BENCHMARK(BM_FuzzyMatchPrefolded);

void BM_FuzzyMatchRawText(benchmark::State& state) {
  const std::string candidate =
      state.range(0) ? "Résumé draft — Projets Text Editor" : "Quarterly report - Work Kate";
  for (auto _ : state) benchmark::DoNotOptimize(FuzzyMatch::score("rep", candidate));
  state.SetLabel(state.range(0) ? "accented" : "ascii");
}
BENCHMARK(BM_FuzzyMatchRawText)->Arg(0)->Arg(1);

}  // namespace
}  // namespace tolvane
