// Which shared-memory buffer the next frame goes into: the bookkeeping of a small pool, apart from
// the memory so that its reuse rule can be checked on its own.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace tolvane::wayland {

/// Slots of at most `kMaxBuffers` buffers. A slot is busy from the frame that uses it until the
/// compositor releases its buffer; a busy buffer is never written. Two slots suffice while the
/// compositor releases in time; a third is made when both are busy or for a frame of another
/// size, and past that a frame waits.
class BufferSlots {
 public:
  static constexpr std::size_t kMaxBuffers = 3;

  /// Where a frame of `width`×`height` pixels goes: `allocate` when the slot's buffer must be
  /// (re)made at that size first.
  struct Pick {
    std::size_t index = 0;
    bool allocate = false;
  };

  /// A free slot whose buffer has the size; else a new slot; else the smallest free one, remade.
  /// Absent when every slot is busy and no more may be made. Marks the slot busy and of that
  /// size.
  std::optional<Pick> acquire(int width, int height);
  /// The compositor is done with the slot's buffer.
  void release(std::size_t index);
  /// Forgets every slot (their buffers were destroyed).
  void clear() { slots_.clear(); }
  /// Forgets every slot but `index`, which becomes slot 0, free, of its size.
  void keepOnly(std::size_t index);
  std::size_t size() const { return slots_.size(); }
  bool busy(std::size_t index) const { return index < slots_.size() && slots_[index].busy; }

 private:
  struct Slot {
    int width = 0;
    int height = 0;
    bool busy = false;
  };
  std::vector<Slot> slots_;
};

}  // namespace tolvane::wayland
