// The overlay's buffer reuse: a busy buffer is never handed out, sizes are reused, the pool is
// bounded.
#include "backends/wayland/buffer_slots.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane::wayland {
namespace {

/// The slot a frame of that size goes to, as "<index> new" (its buffer made first), "<index>
/// kept", or "wait".
std::string pick(BufferSlots& slots, int width, int height) {
  const auto picked = slots.acquire(width, height);
  if (!picked) return "wait";
  return std::to_string(picked->index) + (picked->allocate ? " new" : " kept");
}

TEST(BufferSlots, DoubleBuffersThenAddsAThirdThenWaits) {
  BufferSlots slots;
  EXPECT_EQ(pick(slots, 100, 50), "0 new");
  EXPECT_EQ(pick(slots, 100, 50), "1 new");
  EXPECT_EQ(pick(slots, 100, 50), "2 new");
  EXPECT_EQ(pick(slots, 100, 50), "wait");
  slots.release(1);
  EXPECT_EQ(pick(slots, 100, 50), "1 kept");
}

TEST(BufferSlots, AnotherSizeGetsASlotOfItsOwnThenRemakesTheSmallestFree) {
  BufferSlots slots;
  pick(slots, 960, 630);
  pick(slots, 1, 1);
  slots.release(0);
  slots.release(1);
  EXPECT_EQ(pick(slots, 1280, 800), "2 new");
  slots.release(2);
  EXPECT_EQ(pick(slots, 200, 80), "1 new");
  slots.release(1);
  EXPECT_EQ(pick(slots, 200, 80), "1 kept");
}

TEST(BufferSlots, TheBufferKeptForTheNextSurfaceSurvivesItsOnePixelFrame) {
  BufferSlots slots;
  pick(slots, 1, 1);
  pick(slots, 960, 630);  // still with the compositor when its surface went
  slots.keepOnly(1);
  EXPECT_EQ(slots.size(), 1u);
  EXPECT_EQ(pick(slots, 1, 1), "1 new");
  EXPECT_EQ(pick(slots, 960, 630), "0 kept");
  slots.keepOnly(5);  // nothing there: nothing kept
  EXPECT_EQ(slots.size(), 0u);
}

}  // namespace
}  // namespace tolvane::wayland
