// The application core on a scenario's desktop, seen through the trace of the documented
// example scenarios.
#include "simulator.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace tolvane::simtool {
namespace {

// The trace of `json` run on a fresh clock, which must end with its quit action.
std::vector<std::string> traceOf(const std::string& json) {
  const auto parsed = parseScenario(json);
  if (const auto* refusal = std::get_if<std::string>(&parsed)) {
    ADD_FAILURE() << *refusal;
    return {};
  }
  test::TempDir temp;
  sim::SimClock clock;
  Trace trace{clock};
  Simulator simulator(std::get<Scenario>(parsed), clock, trace,
                      SimulatorOptions{.stateFolder = temp.path()});
  simulator.run();
  EXPECT_TRUE(simulator.hasQuit());
  return trace.lines();
}

// Checks that each expected text occurs in a later line than the one before it.
void expectInOrder(const std::vector<std::string>& lines,
                   const std::vector<std::string>& expected) {
  std::size_t at = 0, last = 0;
  for (const auto& text : expected) {
    while (at < lines.size() && lines[at].find(text) == std::string::npos) ++at;
    if (at == lines.size()) {
      ADD_FAILURE() << "no line containing \"" << text << "\" after line " << last;
      return;
    }
    last = at++;
  }
}

// Each documented example, and what its trace must show, in order.
TEST(SimulatorTest, TheDocumentedExamplesDriveTheirSubsystems) {
  const std::pair<const char*, std::vector<std::string>> examples[] = {
      // Launch and warm-up, then the switcher owns the system's hotkeys. A quick Command-Tab
      // switches without the panel; held, the panel appears 0.1 s later with the second row
      // selected, a second Tab moves on, releasing Command raises the window and moves it to the
      // front of the focus order. A focus change made outside Tolvane is tracked; quitting gives
      // the hotkeys back.
      {"switcher-session.json",
       {"launch",
        "event tap installed",
        "hotkey 1 disabled",
        "window snapshot warmed count=5",
        "0.000 mru 11 12 21 31",
        "0.000 tap consumed",
        "0.000 desktop raise 12",
        "0.000 mru 12 11 21 31",
        "1.000 action focus 31",
        "1.000 mru 31 12 11 21",
        "1.500 key down tab [command]",
        "1.500 tap consumed",
        "1.600 panel shown 560x228 slots=5 [0 \"~\" app=\"Terminal\" badge=1] "
        "[1 \"todo.txt\" app=\"Editor\" badge=2 selected]",
        "1.650 panel updated 560x228 slots=5 [0 \"~\" app=\"Terminal\" badge=1] "
        "[1 \"todo.txt\" app=\"Editor\" badge=2] [2 \"notes.txt\" app=\"Editor\" badge=3 selected]",
        "1.650 key up command",
        "1.650 panel hidden",
        "desktop raise 11",
        "desktop activate 100 accepted",
        "usage activate.result",
        "1.650 mru 11 31 12 21",
        "action quit",
        "hotkey 1 enabled",
        "hotkey 2 enabled",
        "hotkey 6 enabled"}},
      {"palette-search.json",
       {"action palette hot key", "palette shown query=\"\" rows=4", "action type \"tod\"",
        "palette updated query=\"tod\" rows=1 [0 \"todo.txt\" app=\"Editor\" selected]",
        "palette updated query=\"zzz\" message=\"No matches\"", "key palette return",
        "palette hidden", "desktop raise 21", "desktop activate 200 accepted", "mru 21 11 12 31"}},
      {"tray-menu.json",
       {"menu [Search Windows…] [-] [notes.txt] [todo.txt] [News]", "action choose \"News\"",
        "desktop raise 21", "action choose \"Pause Window Switching\"", "hotkey 1 enabled",
        "key down tab [command]", "tap passed", "action choose \"Search Windows…\"",
        "palette shown"}},
      {"account.json",
       {"desktop openURL https://cloud.brenmoor.app/app/connect?app=tolvane",
        "http POST /api/app/token 200", "account signed in email=\"ada@example.org\" tier=pro",
        "cloud callback: refused", "action sign out", "account signed out",
        "http POST /api/app/logout 200"}},
  };
  for (const auto& [file, expected] : examples) {
    SCOPED_TRACE(file);
    std::ifstream in(std::string(TOLVANE_SOURCE_DIR "/docs/scenarios/") + file);
    expectInOrder(traceOf({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}),
                  expected);
  }
}

}  // namespace
}  // namespace tolvane::simtool
