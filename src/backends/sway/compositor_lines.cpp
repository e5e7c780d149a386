// Each compositor's binding syntax, as its own documentation gives it:
//   sway      sway(5): bindsym --no-repeat Mod4+Shift+Tab exec CMD
//   Hyprland  wiki "Binds": bind = SUPER SHIFT, Tab, exec, CMD (keysym names)
//   Wayfire   wiki "Configuration", command plugin: binding_NAME = <super> <shift> KEY_TAB and
//             command_NAME = CMD in [command] (evdev key names)
//   labwc     labwc-config(5), labwc-actions(5): <keybind key="W-S-Tab"> inside <keyboard>,
//             with an Execute action (W Super, A Alt, S Shift, C Control; keysym names)
//   river     riverctl(1): riverctl map normal Super+Shift Tab spawn CMD
#include "backends/sway/compositor_lines.h"

#include <algorithm>
#include <cctype>

namespace tolvane::sway {
namespace {

/// A combination in sway's spelling, taken apart.
struct Keys {
  bool super = false, alt = false, shift = false, control = false;
  std::string key;  // the keysym's name
};

std::optional<Keys> keysOf(std::string_view combo) {
  Keys keys;
  while (!combo.empty()) {
    const std::size_t end = std::min(combo.find('+'), combo.size());
    const bool last = end == combo.size();
    const std::string_view part = combo.substr(0, end);
    combo.remove_prefix(std::min(end + 1, combo.size()));
    if (last) {
      keys.key = std::string(part);
    } else if (part == "Mod4" || part == "Super") {
      keys.super = true;
    } else if (part == "Mod1" || part == "Alt") {
      keys.alt = true;
    } else if (part == "Shift") {
      keys.shift = true;
    } else if (part == "Ctrl" || part == "Control") {
      keys.control = true;
    } else {
      return std::nullopt;
    }
  }
  if (keys.key.empty()) return std::nullopt;
  return keys;
}

/// Wayfire names keys by their evdev codes (linux/input-event-codes.h), that is by position on
/// a US keyboard.
std::optional<std::string> evdevName(const std::string& keysym) {
  static const std::pair<std::string_view, std::string_view> kNamed[] = {
      {"Tab", "TAB"},
      {"grave", "GRAVE"},
      {"space", "SPACE"},
      {"Return", "ENTER"},
      {"KP_Enter", "KPENTER"},
      {"Escape", "ESC"},
      {"BackSpace", "BACKSPACE"},
      {"Delete", "DELETE"},
      {"minus", "MINUS"},
      {"equal", "EQUAL"},
      {"bracketleft", "LEFTBRACE"},
      {"bracketright", "RIGHTBRACE"},
      {"backslash", "BACKSLASH"},
      {"semicolon", "SEMICOLON"},
      {"apostrophe", "APOSTROPHE"},
      {"comma", "COMMA"},
      {"period", "DOT"},
      {"slash", "SLASH"},
      {"Left", "LEFT"},
      {"Right", "RIGHT"},
      {"Up", "UP"},
      {"Down", "DOWN"},
      {"Home", "HOME"},
      {"End", "END"},
      {"Prior", "PAGEUP"},
      {"Next", "PAGEDOWN"},
  };
  for (const auto& [name, code] : kNamed) {
    if (keysym == name) return "KEY_" + std::string(code);
  }
  const auto alnum = [](unsigned char c) { return std::isalnum(c) != 0; };
  const bool letterOrDigit = keysym.size() == 1 && alnum(static_cast<unsigned char>(keysym[0]));
  const bool function = keysym.size() <= 3 && keysym.size() >= 2 && keysym[0] == 'F' &&
                        std::all_of(keysym.begin() + 1, keysym.end(),
                                    [](unsigned char c) { return std::isdigit(c) != 0; });
  if (!letterOrDigit && !function) return std::nullopt;
  std::string code = "KEY_";
  for (const char c : keysym)
    code += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return code;
}

std::string command(Trigger trigger) {
  return "tolvane trigger " + std::string(triggerWord(trigger));
}

/// The modifiers in `names` (Super, Alt, Shift, Control), joined by `separator`.
std::string joinedModifiers(const Keys& keys, const std::string_view (&names)[4],
                            std::string_view separator) {
  std::string out;
  const bool held[] = {keys.super, keys.alt, keys.shift, keys.control};
  for (int i = 0; i < 4; ++i) {
    if (!held[i]) continue;
    if (!out.empty()) out += separator;
    out += names[i];
  }
  return out;
}

std::optional<std::string> swayLine(const Binding& binding, const Keys&) {
  return "bindsym --no-repeat " + binding.combo + " exec " + command(binding.trigger) + "\n";
}

std::optional<std::string> hyprlandLine(const Binding& binding, const Keys& keys) {
  static const std::string_view kNames[4] = {"SUPER", "ALT", "SHIFT", "CTRL"};
  return "bind = " + joinedModifiers(keys, kNames, " ") + ", " + keys.key + ", exec, " +
         command(binding.trigger) + "\n";
}

std::optional<std::string> wayfireLine(const Binding& binding, const Keys& keys) {
  static const std::string_view kNames[4] = {"<super>", "<alt>", "<shift>", "<ctrl>"};
  const auto code = evdevName(keys.key);
  if (!code) return std::nullopt;
  std::string name = "tolvane_" + std::string(triggerWord(binding.trigger));
  std::replace(name.begin(), name.end(), '-', '_');
  const std::string modifiers = joinedModifiers(keys, kNames, " ");
  return "binding_" + name + " = " + modifiers + (modifiers.empty() ? "" : " ") + *code + "\n" +
         "command_" + name + " = " + command(binding.trigger) + "\n";
}

std::optional<std::string> labwcLine(const Binding& binding, const Keys& keys) {
  static const std::string_view kNames[4] = {"W", "A", "S", "C"};
  const std::string modifiers = joinedModifiers(keys, kNames, "-");
  return "<keybind key=\"" + modifiers + (modifiers.empty() ? "" : "-") + keys.key +
         "\"><action name=\"Execute\" command=\"" + command(binding.trigger) + "\"/></keybind>\n";
}

std::optional<std::string> riverLine(const Binding& binding, const Keys& keys) {
  static const std::string_view kNames[4] = {"Super", "Alt", "Shift", "Control"};
  const std::string modifiers = joinedModifiers(keys, kNames, "+");
  return "riverctl map normal " + (modifiers.empty() ? "None" : modifiers) + " " + keys.key +
         " spawn '" + command(binding.trigger) + "'\n";
}

/// One compositor: what comes before and after its lines, and one binding's lines.
struct Syntax {
  std::string_view name;
  std::string_view head, tail;
  std::optional<std::string> (*line)(const Binding&, const Keys&);
};

const Syntax kSyntaxes[] = {
    {"sway", "# Tolvane's key bindings for sway's configuration.\n", "", swayLine},
    {"hyprland", "# Tolvane's key bindings for hyprland.conf.\n", "", hyprlandLine},
    {"wayfire",
     "# Tolvane's key bindings for wayfire.ini (the command plugin must be enabled).\n[command]\n",
     "", wayfireLine},
    {"labwc", "<!-- Tolvane's key bindings for labwc: inside <keyboard> in rc.xml. -->\n", "",
     labwcLine},
    {"river", "# Tolvane's key bindings for river's init.\n", "", riverLine},
};

}  // namespace

std::string compositorChoices() {
  std::string choices;
  for (const std::string_view name : kCompositors) {
    choices += (choices.empty() ? "" : "|") + std::string(name);
  }
  return choices;
}

std::optional<std::string> compositorLines(std::string_view compositor,
                                           const std::vector<Binding>& bindings) {
  const auto syntax = std::find_if(std::begin(kSyntaxes), std::end(kSyntaxes),
                                   [&](const Syntax& s) { return s.name == compositor; });
  if (syntax == std::end(kSyntaxes)) return std::nullopt;
  std::string text(syntax->head);
  for (const Binding& binding : bindings) {
    const auto keys = keysOf(binding.combo);
    const auto line = keys ? syntax->line(binding, *keys) : std::nullopt;
    if (!line) return std::nullopt;
    text += *line;
  }
  return text + std::string(syntax->tail);
}

std::optional<std::string_view> compositorOfDesktop(std::string_view currentDesktop) {
  while (!currentDesktop.empty()) {
    const std::size_t end = std::min(currentDesktop.find(':'), currentDesktop.size());
    std::string name(currentDesktop.substr(0, end));
    currentDesktop.remove_prefix(std::min(end + 1, currentDesktop.size()));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string_view known : kCompositors) {
      if (name == known) return known;
    }
  }
  return std::nullopt;
}

std::string manualBindingsNotice(std::string_view currentDesktop) {
  const std::string start =
      "this compositor's key bindings must run Tolvane's trigger commands; tolvane "
      "--print-bindings ";
  if (const auto compositor = compositorOfDesktop(currentDesktop)) {
    return start + std::string(*compositor) + " prints the lines for " + std::string(*compositor) +
           "'s configuration";
  }
  return start + compositorChoices() + " prints the lines for each of them";
}

}  // namespace tolvane::sway
