// Refusing scenarios: every mistake is named by the line or the field it is in.
#include <gtest/gtest.h>

#include "platform/event_tap.h"
#include "scenario.h"

namespace tolvane::simtool {
namespace {

std::string refusalOf(const std::string& text) {
  const auto result = parseScenario(text);
  const auto* refusal = std::get_if<std::string>(&result);
  return refusal ? *refusal : std::string("(accepted)");
}

constexpr const char* kApps =
    R"("apps": [{"pid": 100, "name": "Editor", "windows": [{"number": 11}, {"number": 12}]}])";

std::string withTimeline(const std::string& steps) {
  return std::string("{") + kApps + ", \"timeline\": [" + steps + "]}";
}

TEST(ScenarioParse, RefusalsNameTheLineOrField) {
  // The scenario, and the start of its refusal.
  const std::pair<std::string, std::string> rows[] = {
      // Not JSON at all: the line and column of the fault.
      {"{\n  \"apps\": [\n    {\"pid\": 1,,}\n  ]\n}", "line 3, column 15: not valid JSON"},
      {"", "line 1, column 1: not valid JSON"},
      // Names the scenario does not know.
      {withTimeline(R"({"action": "teleport"})"),
       "timeline[0].action: unknown action \"teleport\""},
      {withTimeline(R"({"action": "press", "key": "hyper"})"),
       "timeline[0].key: unknown key \"hyper\""},
      {withTimeline(R"({"action": "advance", "secs": 1})"), "timeline[0].seconds: missing"},
      {R"({"apps": [{"pid": 1, "colour": "red"}]})", "apps[0].colour: unknown field"},
      // Windows and applications that do not exist at that point of the timeline.
      {withTimeline(R"({"action": "focus", "window": 404})"),
       "timeline[0].window: no window 404 exists at this point"},
      {withTimeline(R"({"action": "quitApp", "pid": 100}, {"action": "focus", "window": 11})"),
       "timeline[1].window: no window 11 exists at this point"},
      {withTimeline(
           R"({"action": "closeWindow", "window": 12}, {"action": "minimize", "window": 12})"),
       "timeline[1].window: no window 12 exists at this point"},
      {withTimeline(R"({"action": "launchApp", "app": {"pid": 100}})"),
       "timeline[0].app.pid: application 100 runs already"},
      // Values of the wrong type or range.
      {withTimeline(R"({"action": "advance", "seconds": -1})"),
       "timeline[0].seconds: expected seconds from 0 to 86400"},
      {withTimeline(R"({"action": "advance", "seconds": 1e9})"),
       "timeline[0].seconds: expected seconds from 0 to 86400"},
      // Past a double's range the JSON reader itself gives up; still a refusal with a place.
      {"{\"timeline\": [\n  {\"action\": \"advance\", \"seconds\": 1e400}]}",
       "line 2, column 40: not valid JSON: number overflow parsing '1e400'"},
      {withTimeline(R"({"action": "keyDown", "key": "tab", "flags": ["hyper"]})"),
       "timeline[0].flags[0]: expected \"command\", \"option\", \"shift\" or \"control\""},
      {withTimeline(R"({"action": "switchSpace", "space": 3})"),
       "timeline[0].space: expected a Space from 1 to 2"},
      {R"({"preferences": {"excludedBundleIDs": [1, 2]}})",
       "preferences.excludedBundleIDs: expected true/false, an integer, a string or a list"},
      {R"({"apps": [{"pid": 1, "focusedWindow": 5, "windows": [{"number": 4}]}]})",
       "apps[0].focusedWindow: not one of this application's windows"},
      {withTimeline(R"({"action": "quit"}, {"action": "advance", "seconds": 1})"),
       "timeline[1]: nothing can follow \"quit\""},
      {"[1, 2]", "scenario: expected an object"},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_TRUE(refusalOf(text).starts_with(expected))
        << "scenario: " << text << "\nrefusal: " << refusalOf(text);
  }
}

TEST(ScenarioParse, AcceptsTheDocumentedShapes) {
  const auto result = parseScenario(withTimeline(
      R"({"action": "keyDown", "key": "command"},
         {"action": "press", "key": "3", "flags": ["command", "shift"]},
         {"action": "launchApp", "app": {"pid": 200, "windows": [{"number": 21}]}},
         {"action": "focus", "window": 21},
         {"action": "quitApp", "pid": 200},
         {"action": "url", "url": "tolvane://settings"},
         {"action": "quit"})"));
  ASSERT_TRUE(std::holds_alternative<Scenario>(result)) << std::get<std::string>(result);
  const auto& timeline = std::get<Scenario>(result).timeline;
  ASSERT_EQ(timeline.size(), 7u);
  EXPECT_FALSE(timeline[0].flags.has_value());  // follows what is held
  EXPECT_EQ(timeline[1].keyCode, 20);           // the digit 3
  EXPECT_EQ(timeline[1].flags, eventflags::kCommand | eventflags::kShift);
  EXPECT_EQ(timeline[3].pid, 200);  // the window's owner, for focusing it
}

}  // namespace
}  // namespace tolvane::simtool
