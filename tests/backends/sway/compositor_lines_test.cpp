// The configuration lines each compositor gets for the combinations the settings choose, and
// the compositor a session's XDG_CURRENT_DESKTOP names.
#include "backends/sway/compositor_lines.h"

#include <gtest/gtest.h>

#include "backends/sway/trigger_bindings.h"
#include "model/key_codes.h"

namespace tolvane::sway {
namespace {

std::vector<Binding> chosen(const TriggerSettings& settings, std::uint16_t paletteKey,
                            std::uint32_t paletteModifiers) {
  auto bindings = triggerBindings(settings);
  bindings.push_back({*comboOf(paletteKey, paletteModifiers), Trigger::palette});
  return bindings;
}

TEST(CompositorLines, EachCompositorGetsTheChosenCombinationsInItsOwnSyntax) {
  // Super-Tab with its Shift, and the palette on Alt-Space, as the settings ship.
  const auto tab = chosen({.interceptTab = true}, keycode::kSpace, 2048);
  // Alt drives the switcher on the key above Tab; the palette on Control-Super-Return.
  const auto grave =
      chosen({.interceptKeyAboveTab = true, .triggerIsOption = true}, keycode::kReturn, 4096 | 256);
  struct Row {
    const char* compositor;
    const std::vector<Binding>& bindings;
    std::string lines;
  };
  const Row rows[] = {
      {"sway", tab,
       "# Tolvane's key bindings for sway's configuration.\n"
       "bindsym --no-repeat Mod4+Tab exec tolvane trigger next\n"
       "bindsym --no-repeat Mod4+Shift+Tab exec tolvane trigger previous\n"
       "bindsym --no-repeat Mod1+space exec tolvane trigger palette\n"},
      {"hyprland", grave,
       "# Tolvane's key bindings for hyprland.conf.\n"
       "bind = ALT, grave, exec, tolvane trigger app-next\n"
       "bind = ALT SHIFT, grave, exec, tolvane trigger app-previous\n"
       "bind = SUPER CTRL, Return, exec, tolvane trigger palette\n"},
      {"wayfire", tab,
       "# Tolvane's key bindings for wayfire.ini (the command plugin must be enabled).\n"
       "[command]\n"
       "binding_tolvane_next = <super> KEY_TAB\ncommand_tolvane_next = tolvane trigger next\n"
       "binding_tolvane_previous = <super> <shift> KEY_TAB\n"
       "command_tolvane_previous = tolvane trigger previous\n"
       "binding_tolvane_palette = <alt> KEY_SPACE\n"
       "command_tolvane_palette = tolvane trigger palette\n"},
      {"wayfire", grave,
       "# Tolvane's key bindings for wayfire.ini (the command plugin must be enabled).\n"
       "[command]\n"
       "binding_tolvane_app_next = <alt> KEY_GRAVE\n"
       "command_tolvane_app_next = tolvane trigger app-next\n"
       "binding_tolvane_app_previous = <alt> <shift> KEY_GRAVE\n"
       "command_tolvane_app_previous = tolvane trigger app-previous\n"
       "binding_tolvane_palette = <super> <ctrl> KEY_ENTER\n"
       "command_tolvane_palette = tolvane trigger palette\n"},
      {"labwc", tab,
       "<!-- Tolvane's key bindings for labwc: inside <keyboard> in rc.xml. -->\n"
       "<keybind key=\"W-Tab\"><action name=\"Execute\" command=\"tolvane trigger next\"/>"
       "</keybind>\n"
       "<keybind key=\"W-S-Tab\"><action name=\"Execute\" command=\"tolvane trigger previous\"/>"
       "</keybind>\n"
       "<keybind key=\"A-space\"><action name=\"Execute\" command=\"tolvane trigger palette\"/>"
       "</keybind>\n"},
      {"river", grave,
       "# Tolvane's key bindings for river's init.\n"
       "riverctl map normal Alt grave spawn 'tolvane trigger app-next'\n"
       "riverctl map normal Alt+Shift grave spawn 'tolvane trigger app-previous'\n"
       "riverctl map normal Super+Control Return spawn 'tolvane trigger palette'\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.compositor);
    EXPECT_EQ(compositorLines(row.compositor, row.bindings), row.lines);
  }
  EXPECT_EQ(compositorLines("gnome", tab), std::nullopt);
  // Wayfire names keys by evdev code, which a keysym such as "&" has none of.
  EXPECT_EQ(compositorLines("wayfire", {{"Mod4+ampersand", Trigger::next}}), std::nullopt);
}

TEST(CompositorLines, TheStartNoticeNamesTheSessionsCompositor) {
  EXPECT_EQ(compositorOfDesktop("Hyprland"), "hyprland");
  EXPECT_EQ(compositorOfDesktop("wlroots:Wayfire"), "wayfire");
  EXPECT_EQ(compositorOfDesktop("GNOME"), std::nullopt);
  EXPECT_NE(manualBindingsNotice("labwc:wlroots").find("--print-bindings labwc prints"),
            std::string::npos);
  EXPECT_NE(manualBindingsNotice("").find("--print-bindings sway|hyprland|wayfire|labwc|river"),
            std::string::npos);
}

}  // namespace
}  // namespace tolvane::sway
