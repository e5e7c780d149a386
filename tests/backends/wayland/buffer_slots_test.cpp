// The overlay's buffer reuse: a busy buffer is never handed out, sizes are reused, the pool is
// bounded.
#include "backends/wayland/buffer_slots.h"

#include <gtest/gtest.h>

namespace tolvane::wayland {
namespace {

TEST(BufferSlots, DoubleBuffersThenAddsAThirdThenWaits) {
  BufferSlots slots;
  const auto first = slots.acquire(100, 50);
  const auto second = slots.acquire(100, 50);
  const auto third = slots.acquire(100, 50);
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(first->index, 0u);
  EXPECT_EQ(second->index, 1u);
  EXPECT_EQ(third->index, 2u);
  EXPECT_TRUE(first->allocate && second->allocate && third->allocate);
  EXPECT_FALSE(slots.acquire(100, 50));
  slots.release(1);
  const auto reused = slots.acquire(100, 50);
  ASSERT_TRUE(reused);
  EXPECT_EQ(reused->index, 1u);
  EXPECT_FALSE(reused->allocate);
}

TEST(BufferSlots, AnotherSizeGetsASlotOfItsOwnThenRemakesTheSmallestFree) {
  BufferSlots slots;
  slots.acquire(960, 630);
  slots.acquire(1, 1);
  slots.release(0);
  slots.release(1);
  const auto palette = slots.acquire(1280, 800);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->index, 2u);
  EXPECT_TRUE(palette->allocate);
  slots.release(2);
  const auto remade = slots.acquire(200, 80);
  ASSERT_TRUE(remade);
  EXPECT_EQ(remade->index, 1u);
  EXPECT_TRUE(remade->allocate);
  slots.release(1);
  const auto again = slots.acquire(200, 80);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->index, 1u);
  EXPECT_FALSE(again->allocate);
}

TEST(BufferSlots, TheBufferKeptForTheNextSurfaceSurvivesItsOnePixelFrame) {
  BufferSlots slots;
  slots.acquire(1, 1);
  slots.acquire(960, 630);  // still with the compositor when its surface went
  slots.keepOnly(1);
  EXPECT_EQ(slots.size(), 1u);
  const auto idle = slots.acquire(1, 1);
  ASSERT_TRUE(idle);
  EXPECT_EQ(idle->index, 1u);
  const auto kept = slots.acquire(960, 630);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->index, 0u);
  EXPECT_FALSE(kept->allocate);
  slots.keepOnly(5);  // nothing there: nothing kept
  EXPECT_EQ(slots.size(), 0u);
}

}  // namespace
}  // namespace tolvane::wayland
