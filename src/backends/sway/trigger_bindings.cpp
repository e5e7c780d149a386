// The combinations of the settings, and the configuration lines for them.
#include "backends/sway/trigger_bindings.h"

#include "backends/system/key_table.h"
#include "model/key_codes.h"

namespace tolvane::sway {

std::vector<Binding> triggerBindings(const TriggerSettings& settings) {
  const std::string modifier = settings.triggerIsOption ? "Mod1+" : "Mod4+";
  std::vector<Binding> bindings;
  if (settings.interceptTab) {
    bindings.push_back({modifier + "Tab", Trigger::next});
    bindings.push_back({modifier + "Shift+Tab", Trigger::previous});
  }
  if (settings.interceptKeyAboveTab) {
    // By keysym: sway's bindsym follows the layout, and "grave" is what the key above Tab
    // types on the layouts whose users asked for it; --to-code would pin the first layout.
    bindings.push_back({modifier + "grave", Trigger::appNext});
    bindings.push_back({modifier + "Shift+grave", Trigger::appPrevious});
  }
  return bindings;
}

std::optional<std::string> comboOf(std::uint16_t keyCode, std::uint32_t modifiers) {
  const system::KeyEntry* entry = system::keyEntryForCode(keyCode);
  if (!entry) return std::nullopt;
  std::string combo;
  if (modifiers & 4096) combo += "Ctrl+";
  if (modifiers & 2048) combo += "Mod1+";
  if (modifiers & 256) combo += "Mod4+";
  if (modifiers & 512) combo += "Shift+";
  return combo + entry->name;
}

std::string configurationLines() {
  std::string text =
      "# Tolvane's key bindings for sway, for when Tolvane does not add them itself over\n"
      "# sway's IPC. These are its default keys; use the ones you chose in its settings.\n";
  auto bindings = triggerBindings({.interceptTab = true, .interceptKeyAboveTab = true});
  bindings.push_back({"Mod1+space", Trigger::palette});
  for (const Binding& binding : bindings) {
    text += "bindsym --no-repeat " + binding.combo + " exec tolvane trigger " +
            std::string(triggerWord(binding.trigger)) + "\n";
  }
  return text;
}

}  // namespace tolvane::sway
