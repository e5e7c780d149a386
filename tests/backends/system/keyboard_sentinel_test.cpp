// The keyboard sentinel's reading of /proc/<pid>/stat and its decision to let go, on an
// injected clock and injected states.
#include "backends/system/keyboard_sentinel.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
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
  // One look per step, 0.1 s apart, each step the parent's state ('?' when it cannot be read),
  // after '-' when no window of the parent holds the keyboard (else kFence holds it), and '!'
  // when the sentinel lets go of kFence; then how often the state was read.
  const std::tuple<const char*, std::string, int> rows[] = {
      {"running with a hold", "S R S S", 4},
      {"stopped without a hold, never read", "-T -T -T -t", 0},
      {"stopped by a signal", "T T T! T!", 4},
      {"stopped by a debugger", "t t t!", 3},
      {"continued in between", "T T S T", 4},
      {"let go before the stop lasted", "T T -T T T", 4},
      {"state unreadable", "? ? T", 3},
  };
  for (const auto& [what, steps, stateReads] : rows) {
    SCOPED_TRACE(what);
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
    std::istringstream in(steps);
    for (std::string step; in >> step; now += KeyboardSentinel::kPollSeconds) {
      held = step.starts_with('-') ? 0 : kFence;
      const char read = step[held ? 0 : 1];
      state = read == '?' ? std::nullopt : std::optional(read);
      const bool letsGo = step.ends_with('!');
      EXPECT_EQ(watch.look(), letsGo ? std::optional(kFence) : std::nullopt) << "at " << now;
    }
    EXPECT_EQ(reads, stateReads);
  }
}

}  // namespace
}  // namespace tolvane::system
