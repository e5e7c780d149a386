// The managed hotkeys and restore-all.
#include "input/symbolic_hotkeys.h"

namespace tolvane {

std::optional<SymbolicHotKey> symbolicHotKey(std::int32_t raw) {
  for (auto key : kSymbolicHotKeys) {
    if (static_cast<std::int32_t>(key) == raw) return key;
  }
  return std::nullopt;
}

void restoreAllSymbolicHotKeys(WindowServer& windowServer) {
  if (!windowServer.hasSymbolicHotKeySetter()) return;
  for (auto key : kSymbolicHotKeys) {
    windowServer.setSymbolicHotKeyEnabled(static_cast<std::int32_t>(key), true);
  }
}

}  // namespace tolvane
