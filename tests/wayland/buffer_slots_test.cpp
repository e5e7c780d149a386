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

TEST(BufferSlots, PrefersAFreeBufferOfTheSizeAndRemakesOneOtherwise) {
  BufferSlots slots;
  slots.acquire(100, 50);
  slots.acquire(100, 50);
  slots.release(0);
  slots.release(1);
  const auto resized = slots.acquire(200, 80);
  ASSERT_TRUE(resized);
  EXPECT_TRUE(resized->allocate);
  slots.release(resized->index);
  const auto again = slots.acquire(200, 80);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->index, resized->index);
  EXPECT_FALSE(again->allocate);
  EXPECT_EQ(slots.size(), 2u);
}

}  // namespace
}  // namespace tolvane::wayland
