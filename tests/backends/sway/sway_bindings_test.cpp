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

// Against a sway that answers from the row: what reaches sway, and what install() says of each
// binding. Each row ends with removeAll(), whose command list is the last one sent.
TEST(SwayBindings, InstallLeavesTheUsersBindingsAloneAndRemoveAllTakesBackEveryOther) {
  struct Row {
    const char* what;
    std::optional<std::string> config;
    std::vector<Binding> bindings;
    /// A binding sway refuses when its command names this combo.
    const char* refusedBySway;
    Strings sent;
    std::string outcome;
  };
  const Binding tab{"Mod4+Tab", Trigger::next}, shiftTab{"Mod4+Shift+Tab", Trigger::previous},
      grave{"Mod4+grave", Trigger::appNext};
  const Row rows[] = {
      {"free combos bound without repeat, all taken back in one list",
       "",
       {tab, shiftTab},
       "",
       {"config", "bindsym --no-repeat Mod4+Tab nop tolvane next",
        "bindsym --no-repeat Mod4+Shift+Tab nop tolvane previous",
        "unbindsym Mod4+Tab;unbindsym Mod4+Shift+Tab"},
       "installed Mod4+Tab Mod4+Shift+Tab; taken; refused"},
      {"the user's combo, under another spelling, left to the configuration",
       "set $m Super\nbindsym $m+tab focus next\n",
       {tab, grave},
       "",
       {"config", "bindsym --no-repeat Mod4+grave nop tolvane app-next", "unbindsym Mod4+grave"},
       "installed Mod4+grave; taken Mod4+Tab; refused"},
      {"one sway refuses is not taken back",
       "",
       {tab, grave},
       "Mod4+grave",
       {"config", "bindsym --no-repeat Mod4+Tab nop tolvane next",
        "bindsym --no-repeat Mod4+grave nop tolvane app-next", "unbindsym Mod4+Tab"},
       "installed Mod4+Tab; taken; refused Mod4+grave (no)"},
      {"a combo that would end the command, and one given twice",
       "",
       {{"Mod4+x;exec y", Trigger::next}, tab, {"mod4+tab", Trigger::palette}},
       "",
       {"config", "bindsym --no-repeat Mod4+Tab nop tolvane next", "unbindsym Mod4+Tab"},
       "installed Mod4+Tab; taken; refused Mod4+x;exec y (not a key combination) mod4+tab (Tolvane "
       "binds this combination already)"},
      {"an unreadable configuration binds nothing",
       std::nullopt,
       {tab},
       "",
       {"config"},
       "installed; taken; refused Mod4+Tab (sway's configuration could not be read)"},
  };
  for (const Row& row : rows) {
    Strings sent;
    SwayBindings bindings([&](std::uint32_t type, std::string_view payload) {
      sent.emplace_back(type == ipc::kGetConfig ? "config" : std::string(payload));
      std::optional<nlohmann::json> reply;
      if (type == ipc::kGetConfig && row.config) reply = nlohmann::json{{"config", *row.config}};
      if (type == ipc::kRunCommand) {
        const bool refuse = *row.refusedBySway && payload.find(row.refusedBySway) != payload.npos;
        reply = nlohmann::json::array({{{"success", !refuse}, {"error", "no"}}});
      }
      return reply;
    });
    const auto outcome = bindings.install(row.bindings);
    std::string said = "installed";
    for (const Binding& b : outcome.installed) said += " " + b.combo;
    said += "; taken";
    for (const Binding& b : outcome.takenByConfig) said += " " + b.combo;
    said += "; refused";
    for (const auto& [b, reason] : outcome.refused) said += " " + b.combo + " (" + reason + ")";
    bindings.removeAll();
    EXPECT_EQ(sent, row.sent) << row.what;
    EXPECT_EQ(said, row.outcome) << row.what;
    EXPECT_EQ(bindings.removalPayload(), "") << row.what;
  }
}

}  // namespace
}  // namespace tolvane::sway
