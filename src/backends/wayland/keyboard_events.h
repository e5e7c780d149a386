// What the keyboard and the pointer report to a surface of ours that has them: values and
// callbacks, free of libwayland and xkbcommon types.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tolvane::wayland {

/// The modifiers physically held (xkb's depressed modifiers: Shift, Control, Mod1, Mod4).
struct Modifiers {
  bool shift = false;
  bool control = false;
  bool alt = false;
  bool super = false;
  bool operator==(const Modifiers&) const = default;
};

/// Keyboard events for one surface, run on the main thread while its events are dispatched.
/// Keysyms are those of the keymap's level for the current state (xkb keysym values). No key
/// repeat is delivered.
struct KeyboardHandler {
  /// The surface got the keyboard: the modifiers and the keys held at that moment.
  std::function<void(const Modifiers& held, const std::vector<std::uint32_t>& pressedKeysyms)>
      entered;
  /// A key went down or up. `text` is the printable UTF-8 the key types (empty for controls,
  /// releases and keys that type nothing); `baseKeysym` is the key's keysym at level 1, as if no
  /// modifier were held (Tab for Shift+Tab's ISO_Left_Tab).
  std::function<void(std::uint32_t keysym, bool pressed, const std::string& text,
                     std::uint32_t baseKeysym)>
      key;
  /// The held modifiers changed while the surface has the keyboard.
  std::function<void(const Modifiers&)> modifiers;
  /// The surface lost the keyboard.
  std::function<void()> left;
  /// The seat's keyboard went away (a virtual keyboard whose program ended, a keyboard
  /// unplugged) while the surface was routed, whether or not it had the keyboard yet: every key
  /// that keyboard held is up, and no release of them will come.
  std::function<void()> gone;
};

/// A primary-button press at `x`, `y`: logical coordinates within the surface.
using ClickHandler = std::function<void(double x, double y)>;

}  // namespace tolvane::wayland
