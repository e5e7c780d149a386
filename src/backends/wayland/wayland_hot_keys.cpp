// The palette's binding, installed and taken back with its registration.
#include "backends/wayland/wayland_hot_keys.h"

#include "backends/sway/trigger_bindings.h"

namespace tolvane::wayland {

WaylandHotKeys::~WaylandHotKeys() {
  if (registered_) unregisterHotKey(*registered_);
}

std::optional<HotKeyId> WaylandHotKeys::registerHotKey(std::uint32_t keyCode,
                                                       std::uint32_t modifiers,
                                                       std::function<void()> onPress) {
  const auto combo = sway::comboOf(static_cast<std::uint16_t>(keyCode), modifiers);
  if (!combo) {
    refusal_ = "the compositor cannot bind this key";
    return std::nullopt;
  }
  if (registered_) unregisterHotKey(*registered_);
  if (bindings_.install) {
    if (const auto refusal = bindings_.install({{*combo, Trigger::palette}})) {
      refusal_ = refusal->reason;
      return std::nullopt;
    }
  }
  refusal_.reset();
  combo_ = *combo;
  onPress_ = std::move(onPress);
  registered_ = nextID_++;
  return registered_;
}

void WaylandHotKeys::unregisterHotKey(HotKeyId id) {
  if (registered_ != id) return;
  registered_.reset();
  onPress_ = nullptr;
  if (bindings_.remove) bindings_.remove();
}

void WaylandHotKeys::reinstall() {
  if (!registered_ || !bindings_.install) return;
  // What this object believes installed is gone already; taking it back is harmless.
  if (bindings_.remove) bindings_.remove();
  const auto refusal = bindings_.install({{combo_, Trigger::palette}});
  refusal_ = refusal ? std::optional(refusal->reason) : std::nullopt;
}

void WaylandHotKeys::press() {
  // A copy: the handler may unregister the key it came through.
  if (auto handler = onPress_) handler();
}

}  // namespace tolvane::wayland
