// The buffer pool's reuse rule.
#include "backends/wayland/buffer_slots.h"

namespace tolvane::wayland {

std::optional<BufferSlots::Pick> BufferSlots::acquire(int width, int height) {
  std::optional<std::size_t> smallestFree;
  const auto pixels = [this](std::size_t at) {
    return static_cast<long long>(slots_[at].width) * slots_[at].height;
  };
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    Slot& slot = slots_[i];
    if (slot.busy) continue;
    if (slot.width == width && slot.height == height) {
      slot.busy = true;
      return Pick{i, false};
    }
    if (!smallestFree || pixels(i) < pixels(*smallestFree)) smallestFree = i;
  }
  // A frame of another size gets a buffer of its own while there is room: remaking a free one
  // would throw away the panel-sized buffer kept between sessions for the session's one-pixel
  // frame, and the panel would then pay for fresh pages. Past the bound the smallest free one
  // goes, being the cheapest to make again.
  std::size_t index = 0;
  if (slots_.size() < kMaxBuffers) {
    index = slots_.size();
    slots_.emplace_back();
  } else if (smallestFree) {
    index = *smallestFree;
  } else {
    return std::nullopt;
  }
  slots_[index] = Slot{width, height, true};
  return Pick{index, true};
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
