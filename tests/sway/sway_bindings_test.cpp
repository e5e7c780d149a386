// Reading the user's bindings from sway's configuration, comparing combos, and telling
// Tolvane's binding events from everyone else's.
#include "backends/sway/sway_bindings.h"

#include <gtest/gtest.h>

namespace tolvane::sway {
namespace {

using Strings = std::vector<std::string>;

TEST(SwayConfig, OnlyTheDefaultModesPressBindingsCount) {
  struct Row {
    const char* what;
    const char* config;
    Strings combos;
  };
  const Row rows[] = {
      {"variables, the longest name first",
       "set $mod Mod4\nset $mod1 Mod1\nset $t $mod+Tab\n"
       "bindsym $mod+Return exec foot\nbindsym $mod1+x kill\nbindsym $t focus next\n",
       {"Mod4+Return", "Mod1+x", "Mod4+Tab"}},
      {"flags skipped, release bindings left out",
       "bindsym --no-repeat --locked --input-device=1:1:kbd Mod4+a nop\n"
       "bindsym --release Mod4+b nop\nbindsym --to-code --inhibited Mod4+c nop\n",
       {"Mod4+a", "Mod4+c"}},
      {"other modes left out, nested blocks closed in turn",
       "mode \"resize\" {\n  bindsym Left resize shrink\n  bindsym {\n    Return mode default\n"
       "  }\n}\nbindsym Mod4+r mode resize\n",
       {"Mod4+r"}},
      {"binding blocks, a brace on its own line",
       "bindsym {\n  Mod4+1 workspace 1\n  Mod4+2 workspace 2\n}\nbindsym --release\n{\n"
       "  Mod4+3 workspace 3\n}\n",
       {"Mod4+1", "Mod4+2"}},
      {"comments and continued lines",
       "# bindsym Mod4+q kill\n  # indented\nbindsym \\\n  Mod4+d exec \\\n  menu\n",
       {"Mod4+d"}},
      {"a variable used before it is set stays", "bindsym $m+a nop\nset $m Mod4\n", {"$m+a"}},
  };
  for (const Row& row : rows) EXPECT_EQ(configuredCombos(row.config), row.combos) << row.what;
}

TEST(SwayConfig, CombosCompareAsSwayMatchesThem) {
  struct Row {
    const char* a;
    const char* b;
    bool same;
  };
  const Row rows[] = {
      {"Mod4+Shift+Tab", "shift+mod4+tab", true},  // order and case
      {"Super+Tab", "Mod4+Tab", true},             // aliases
      {"Alt+Ctrl+x", "Control+Mod1+X", true},
      {"Caps+a", "Lock+a", true},
      {"Mod4+Tab", "Mod4+Shift+Tab", false},
      {"Mod4+Tab", "Mod1+Tab", false},
      {"Mod4+grave", "Mod4+Tab", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(sameCombo(row.a, row.b), row.same) << row.a << " / " << row.b;
  }
}

TEST(SwayBindingEvents, OnlyTolvanesOwnCommandsTrigger) {
  const auto event = [](nlohmann::json command, const char* change = "run") {
    return nlohmann::json{{"change", change}, {"binding", {{"command", std::move(command)}}}};
  };
  for (Trigger t : {Trigger::next, Trigger::previous, Trigger::appNext, Trigger::appPrevious,
                    Trigger::palette}) {
    EXPECT_EQ(triggerOfBindingEvent(event(bindingCommand(t))), t) << triggerWord(t);
  }
  const nlohmann::json foreign[] = {
      event("workspace 2"),
      event("nop tolvane"),
      event("nop tolvane next "),
      event("nop tolvane next; exec x"),
      event("nop  tolvane next"),
      event("nop tolvane NEXT"),
      event(7),
      event("nop tolvane next", "other"),
      nlohmann::json::array(),
      {{"change", "run"}, {"binding", "nop tolvane next"}},
  };
  for (const auto& body : foreign) EXPECT_FALSE(triggerOfBindingEvent(body)) << body.dump();
}

}  // namespace
}  // namespace tolvane::sway
