// The product's key codes from what XKB says of a key.
#include "backends/wayland/wayland_keys.h"

#include "backends/system/key_table.h"

namespace tolvane::wayland {

namespace {

/// Letters are in the table by their lower-case keysym; Qt reports the shifted one.
std::uint32_t unshifted(std::uint32_t keysym) {
  return keysym >= 'A' && keysym <= 'Z' ? keysym - 'A' + 'a' : keysym;
}

}  // namespace

std::uint16_t productKeyCode(std::uint32_t xkbKeycode, std::uint32_t keysym) {
  if (const auto positional = system::positionalKeyCode(xkbKeycode)) return *positional;
  const system::KeyEntry* entry = system::keyEntryForKeysym(unshifted(keysym));
  return entry ? entry->keyCode : system::kUnknownKeyCode;
}

std::uint64_t productFlags(const HeldModifiers& held) {
  std::uint64_t flags = 0;
  if (held.shift) flags |= eventflags::kShift;
  if (held.control) flags |= eventflags::kControl;
  if (held.alt) flags |= eventflags::kOption;
  if (held.super) flags |= eventflags::kCommand;
  return flags;
}

KeyEvent keyDownOf(std::uint32_t xkbKeycode, std::uint32_t modifierMask, std::uint32_t keysym) {
  const HeldModifiers held{.shift = (modifierMask & 1) != 0,
                           .control = (modifierMask & 4) != 0,
                           .alt = (modifierMask & 8) != 0,
                           .super = (modifierMask & 64) != 0};
  return {KeyEventType::keyDown, productKeyCode(xkbKeycode, keysym), productFlags(held)};
}

}  // namespace tolvane::wayland
