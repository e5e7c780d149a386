// The buffer pool's reuse rule.
#include "backends/wayland/buffer_slots.h"

namespace tolvane::wayland {

std::optional<BufferSlots::Pick> BufferSlots::acquire(int width, int height) {
  std::optional<std::size_t> resized;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    Slot& slot = slots_[i];
    if (slot.busy) continue;
    if (slot.width == width && slot.height == height) {
      slot.busy = true;
      return Pick{i, false};
    }
    if (!resized) resized = i;
  }
  if (!resized && slots_.size() >= kMaxBuffers) return std::nullopt;
  if (!resized) {
    resized = slots_.size();
    slots_.emplace_back();
  }
  slots_[*resized] = Slot{width, height, true};
  return Pick{*resized, true};
}

void BufferSlots::keepOnly(std::size_t index) {
  if (index >= slots_.size()) return clear();
  const Slot kept{slots_[index].width, slots_[index].height, false};
  slots_.assign(1, kept);
}

void BufferSlots::release(std::size_t index) {
  if (index < slots_.size()) slots_[index].busy = false;
}

}  // namespace tolvane::wayland
