// The application core on a scenario's desktop, seen through the trace: a whole switcher
// session, and the documented example scenarios.
#include "simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace tolvane::simtool {
namespace {

class SimulatorTest : public ::testing::Test {
 protected:
  std::vector<std::string> run(const std::string& json) {
    const auto parsed = parseScenario(json);
    if (const auto* refusal = std::get_if<std::string>(&parsed)) {
      ADD_FAILURE() << *refusal;
      return {};
    }
    scenario = std::get<Scenario>(parsed);
    simulator = std::make_unique<Simulator>(scenario, clock, trace,
                                            SimulatorOptions{.stateFolder = temp.path()});
    simulator->run();
    return trace.lines();
  }

  /// Checks that each expected text occurs in a later line than the one before it, and returns
  /// the index of the line that matched the last one.
  static std::size_t expectInOrder(const std::vector<std::string>& lines,
                                   const std::vector<std::string>& expected) {
    std::size_t at = 0, last = 0;
    for (const auto& text : expected) {
      while (at < lines.size() && lines[at].find(text) == std::string::npos) ++at;
      if (at == lines.size()) {
        ADD_FAILURE() << "no line containing \"" << text << "\" after line " << last;
        return lines.size();
      }
      last = at++;
    }
    return last;
  }
  static std::size_t indexOf(const std::vector<std::string>& lines, const std::string& text) {
    const auto has = [&](const std::string& line) { return line.find(text) != std::string::npos; };
    return static_cast<std::size_t>(std::ranges::find_if(lines, has) - lines.begin());
  }

  test::TempDir temp;
  sim::SimClock clock;
  Trace trace{clock};
  Scenario scenario;
  std::unique_ptr<Simulator> simulator;
};

constexpr const char* kThreeApps = R"(
  "apps": [
    {"pid": 100, "name": "Editor", "bundleID": "org.example.editor", "frontmost": true,
     "windows": [{"number": 11, "title": "notes.txt"}, {"number": 12, "title": "todo.txt"}]},
    {"pid": 200, "name": "Browser", "windows": [{"number": 21, "title": "News"}]},
    {"pid": 300, "name": "Terminal", "windows": [{"number": 31, "title": "~"}]}
  ])";

TEST_F(SimulatorTest, ASwitcherSessionEndToEnd) {
  const auto lines = run(std::string("{") + kThreeApps + R"(, "timeline": [
    {"action": "advance", "seconds": 1},
    {"action": "keyDown", "key": "command"},
    {"action": "keyDown", "key": "tab"},
    {"action": "advance", "seconds": 0.1},
    {"action": "keyUp", "key": "tab"},
    {"action": "press", "key": "tab"},
    {"action": "keyUp", "key": "command"},
    {"action": "advance", "seconds": 0.5},
    {"action": "focus", "window": 31},
    {"action": "quit"}]})");
  // Launch, warm-up, then the switcher owns the system's hotkeys.
  expectInOrder(lines, {"launch", "event tap installed", "hotkey 1 disabled",
                        "window snapshot warmed count=4", "mru 11 12 21 31"});
  // Command-Tab is consumed; the panel appears only after 0.1 s, with the second row selected.
  const auto shown = expectInOrder(
      lines, {"1.000 key down tab [command]", "1.000 tap consumed",
              "1.100 panel shown 560x186 slots=4 [0 \"notes.txt\" app=\"Editor\" badge=1] "
              "[1 \"todo.txt\" app=\"Editor\" badge=2 selected]"});
  EXPECT_EQ(indexOf(lines, "panel shown"), shown) << "the panel showed before its delay";
  // A second Tab moves on; releasing Command commits: the panel goes, the window is raised and
  // its application activated, and it moves to the front of the focus order.
  expectInOrder(
      lines, {"panel updated", "1.100 key up command", "1.100 panel hidden", "desktop raise 21",
              "desktop activate 200 accepted", "usage activate.result", "1.100 mru 21 11 12 31"});
  // The focus tracker sees a focus change made outside Tolvane.
  expectInOrder(lines, {"1.600 action focus 31", "1.600 mru 31 21 11 12", "action quit",
                        "hotkey 1 enabled", "hotkey 2 enabled", "hotkey 6 enabled"});
  EXPECT_TRUE(simulator->hasQuit());
}

// Each documented example, and what its trace must show, in order.
TEST_F(SimulatorTest, TheDocumentedExamplesDriveTheirSubsystems) {
  const std::pair<const char*, std::vector<std::string>> examples[] = {
      {"palette-search.json",
       {"action palette hot key", "palette shown query=\"\" rows=4", "action type \"tod\"",
        "palette updated query=\"tod\" rows=1 [0 \"todo.txt\" app=\"Editor\" selected]",
        "palette updated query=\"zzz\" message=\"No matches\"", "key palette return",
        "palette hidden", "desktop raise 21", "mru 21 11 12 31"}},
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
    expectInOrder(run({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}),
                  expected);
  }
}

}  // namespace
}  // namespace tolvane::simtool
