// The views read from a hand-written GET_TREE reply: two outputs, a scratchpad, floating and
// nested containers, and the focus arrays that rank them.
#include "backends/sway/sway_tree.h"

#include <gtest/gtest.h>

#include "backends/sway/sway_ipc.h"

namespace tolvane::sway {
namespace {

const char* const kTree = R"({
  "id": 1, "type": "root", "name": "root", "focus": [3, 20],
  "nodes": [
    {"id": 2147483647, "type": "output", "name": "__i3", "focus": [2147483646], "nodes": [
      {"id": 2147483646, "type": "workspace", "name": "__i3_scratch", "focus": [30],
       "nodes": [], "floating_nodes": [
         {"id": 30, "type": "floating_con", "name": "notes", "pid": 300, "app_id": "notes",
          "focus": [], "nodes": []}]}]},
    {"id": 20, "type": "output", "name": "HDMI-A-1", "current_workspace": "3", "focus": [21],
     "nodes": [
       {"id": 21, "type": "workspace", "name": "3", "focus": [22], "nodes": [
         {"id": 22, "type": "con", "name": "Gimp", "pid": 220, "app_id": null,
          "window_properties": {"class": "Gimp-2.10"}, "focus": [], "nodes": []}]}]},
    {"id": 3, "type": "output", "name": "HEADLESS-1", "current_workspace": "1", "focus": [4, 7],
     "nodes": [
       {"id": 4, "type": "workspace", "name": "1", "focus": [8, 9, 5], "nodes": [
         {"id": 5, "type": "con", "name": "mail", "pid": 50, "app_id": "mail", "nodes": []},
         {"id": 9, "type": "con", "name": null, "focus": [10, 6], "nodes": [
           {"id": 6, "type": "con", "name": "shell", "pid": 60, "app_id": "foot", "nodes": []},
           {"id": 10, "type": "con", "name": "editor", "pid": 100, "app_id": "code",
            "focused": true, "nodes": []}]}],
        "floating_nodes": [
          {"id": 8, "type": "floating_con", "name": "calc", "pid": "7", "app_id": "calc",
           "nodes": []}]},
       {"id": 7, "type": "workspace", "name": "2: web", "focus": [11], "nodes": [
         {"id": 11, "type": "con", "name": "browser", "pid": 110, "app_id": "web",
          "nodes": []}]}]}]})";

TEST(SwayTree, ViewsComeInFocusOrderWithTheirPlaces) {
  const auto tree = nlohmann::json::parse(kTree, nullptr, false);
  ASSERT_FALSE(tree.is_discarded());
  // The focused output's workspaces first, each in its own focus order; the other output next;
  // the scratchpad, which the root's focus leaves out, last.
  const std::vector<SwayView> expected = {
      {8, 0, "calc", "calc", "1", "HEADLESS-1", false, true, 0},  // a pid that is not a number
      {10, 100, "code", "editor", "1", "HEADLESS-1", true, true, 1},
      {6, 60, "foot", "shell", "1", "HEADLESS-1", false, true, 2},
      {5, 50, "mail", "mail", "1", "HEADLESS-1", false, true, 3},
      {11, 110, "web", "browser", "2: web", "HEADLESS-1", false, false, 4},
      {22, 220, "Gimp-2.10", "Gimp", "3", "HDMI-A-1", false, true, 5},
      {30, 300, "notes", "notes", "", "", false, false, 6},
  };
  EXPECT_EQ(parseSwayTree(tree), expected);
}

TEST(SwayTree, BoundsHoldForDeepTreesAndLongStrings) {
  nlohmann::json node = {{"id", 1}, {"type", "con"}, {"pid", 1}, {"app_id", "deep"}};
  for (int i = 0; i < kMaxTreeDepth + 1; ++i) {
    node = {{"id", i + 2}, {"type", "con"}, {"nodes", {node}}};
  }
  EXPECT_TRUE(parseSwayTree(node).empty());
  // "é" is two bytes: the cut falls before a character, never inside one.
  const std::string title = "a" + std::string(kMaxTreeStringBytes, 'x').replace(1022, 2, "é");
  const nlohmann::json view = {{"id", 1}, {"type", "con"}, {"pid", 1}, {"name", title}};
  const auto views = parseSwayTree({{"type", "root"}, {"nodes", {view}}});
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0].title, title.substr(0, 1023));
  EXPECT_TRUE(parseSwayTree(nlohmann::json::array()).empty());
}

TEST(SwayTree, OnlyEventsThatMoveViewsAskForTheTreeAgain) {
  constexpr std::uint32_t kWorkspaceEvent = ipc::kEventBit;
  const struct {
    std::uint32_t type;
    const char* body;
    bool reread;
  } rows[] = {
      {ipc::kWindowEvent, R"({"change": "new", "container": {"id": 7}})", true},
      {ipc::kWindowEvent, R"({"change": "close", "container": {"id": 7}})", true},
      {ipc::kWindowEvent, R"({"change": "move", "container": {"id": 7}})", true},
      {ipc::kWindowEvent, R"({"change": "focus", "container": {"id": 7}})", false},
      {ipc::kWindowEvent, R"({"change": "title", "container": {"id": 7}})", false},
      {ipc::kWindowEvent, R"({"change": "mark"})", false},
      // What cannot be read could be anything.
      {ipc::kWindowEvent, R"({"change": 3})", true},
      {ipc::kWindowEvent, "not json", true},
      {kWorkspaceEvent, R"({"change": "focus"})", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.body);
    EXPECT_EQ(eventChangesViews(row.type, nlohmann::json::parse(row.body, nullptr, false)),
              row.reread);
  }
}

}  // namespace
}  // namespace tolvane::sway
