// The application core on a scenario's desktop, seen through the trace of the documented
// example scenarios.
#include "simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace tolvane::simtool {
namespace {

// The trace of the documented example `file` run on a fresh clock, which must end with its quit
// action.
std::vector<std::string> traceOf(const std::string& file) {
  std::ifstream in(std::string(TOLVANE_SOURCE_DIR "/docs/scenarios/") + file);
  const auto parsed = parseScenario({std::istreambuf_iterator<char>(in), {}});
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

// Each documented example, and what its trace must show, in order.
TEST(SimulatorTest, TheDocumentedExamplesDriveTheirSubsystems) {
  // The switcher-session example's panel, first with the second row selected, then the third.
  const std::string shown =
      "1.600 panel shown 560x228 slots=5 [0 \"~\" app=\"Terminal\" badge=1] "
      "[1 \"todo.txt\" app=\"Editor\" badge=2 selected]";
  const std::string updated =
      "1.650 panel updated 560x228 slots=5 [0 \"~\" app=\"Terminal\" badge=1] "
      "[1 \"todo.txt\" app=\"Editor\" badge=2] [2 \"notes.txt\" app=\"Editor\" badge=3 selected]";
  const std::pair<const char*, std::vector<std::string>> examples[] = {
      {"switcher-session.json",
       {// Launch and warm-up, then the switcher owns the system's hotkeys.
        "launch", "event tap installed", "hotkey 1 disabled", "window snapshot warmed count=5",
        // A quick Command-Tab switches without the panel.
        "0.000 mru 11 12 21 31", "0.000 tap consumed", "0.000 desktop raise 12",
        "0.000 mru 12 11 21 31",
        // A focus change made outside Tolvane is tracked.
        "1.000 action focus 31", "1.000 mru 31 12 11 21",
        // Held, the panel appears 0.1 s later with the second row selected, a second Tab moves on,
        // releasing Command raises the window and moves it to the front of the focus order.
        "1.500 key down tab [command]", "1.500 tap consumed", shown, updated,
        "1.650 key up command", "1.650 panel hidden", "desktop raise 11",
        "desktop activate 100 accepted", "usage activate.result", "1.650 mru 11 31 12 21",
        // Quitting gives the hotkeys back.
        "action quit", "hotkey 1 enabled", "hotkey 2 enabled", "hotkey 6 enabled"}},
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
    const std::vector<std::string> lines = traceOf(file);
    // Each expected text must occur in a later line than the one before it.
    auto at = lines.begin();
    for (const auto& text : expected) {
      at = std::find_if(at, lines.end(),
                        [&](const auto& line) { return line.find(text) != std::string::npos; });
      ASSERT_NE(at, lines.end()) << "no line containing \"" << text << "\" after the one before";
      ++at;
    }
  }
}

}  // namespace
}  // namespace tolvane::simtool
