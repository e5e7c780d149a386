// The keyboard sentinel's reading of /proc/<pid>/stat and its decision to let go, on an
// injected clock and injected states.
#include "backends/system/keyboard_sentinel.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvane::system {
namespace {

TEST(KeyboardSentinel, ReadsTheStateAfterTheCommandName) {
  const std::vector<std::pair<std::string_view, std::optional<char>>> rows = {
      {"4242 (tolvane) S 1 4242 4242 0 -1 4194560\n", 'S'},
      {"4242 (tolvane) T 1 4242", 'T'},
      {"4242 (tolvane) t 1 4242", 't'},
      {"4242 (tolvane) R", 'R'},
      // A command name may hold what the fields look like.
      {"4242 (a) T (b) R 1 2", 'R'},
      {"4242 (x y) Z 1", 'Z'},
      {"4242 (()) D 1", 'D'},
      // Anything else is not a stat line.
      {"", std::nullopt},
      {"4242 tolvane S 1", std::nullopt},
      {"4242 (tolvane)", std::nullopt},
      {"4242 (tolvane) ", std::nullopt},
      {"4242 (tolvane)S 1", std::nullopt},
      {"4242 (tolvane) 5 1", std::nullopt},
      {"4242 (tolvane) ST 1", std::nullopt},
      {"4242 )tolvane( S 1", std::nullopt},
  };
  for (const auto& [stat, state] : rows) EXPECT_EQ(processStateOfStat(stat), state) << stat;
}

TEST(KeyboardSentinel, LetsGoOnlyOfAHoldStoppedForAFifthOfASecond) {
  constexpr std::uint32_t kFence = 0x1200004;
  // One look per step, 0.1 s apart: the published window, the parent's state, and what the
  // sentinel does.
  struct Step {
    std::uint32_t window;
    std::optional<char> state;
    std::optional<std::uint32_t> letGo = std::nullopt;
  };
  struct Row {
    const char* what;
    std::vector<Step> steps;
    int stateReads;
  };
  const std::vector<Row> rows = {
      {"running with a hold", {{kFence, 'S'}, {kFence, 'R'}, {kFence, 'S'}, {kFence, 'S'}}, 4},
      {"stopped without a hold, never read", {{0, 'T'}, {0, 'T'}, {0, 'T'}, {0, 't'}}, 0},
      {"stopped by a signal",
       {{kFence, 'T'}, {kFence, 'T'}, {kFence, 'T', kFence}, {kFence, 'T', kFence}},
       4},
      {"stopped by a debugger", {{kFence, 't'}, {kFence, 't'}, {kFence, 't', kFence}}, 3},
      {"continued in between", {{kFence, 'T'}, {kFence, 'T'}, {kFence, 'S'}, {kFence, 'T'}}, 4},
      {"let go before the stop lasted",
       {{kFence, 'T'}, {kFence, 'T'}, {0, 'T'}, {kFence, 'T'}, {kFence, 'T'}},
       4},
      {"state unreadable", {{kFence, std::nullopt}, {kFence, std::nullopt}, {kFence, 'T'}}, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    double now = 0;
    std::uint32_t held = 0;
    std::optional<char> state;
    int reads = 0;
    SentinelWatch watch({.now = [&] { return now; },
                         .heldWindow = [&] { return held; },
                         .parentState =
                             [&] {
                               ++reads;
                               return state;
                             }});
    for (const Step& step : row.steps) {
      held = step.window;
      state = step.state;
      EXPECT_EQ(watch.look(), step.letGo) << "at " << now;
      now += KeyboardSentinel::kPollSeconds;
    }
    EXPECT_EQ(reads, row.stateReads);
  }
}

}  // namespace
}  // namespace tolvane::system
