// The simulated run loop and main-thread tasks: ordering, delays, cancellation and yielding.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "backends/sim/sim_run_loop.h"
#include "base/task.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;

class RunLoopTest : public ::testing::Test {
 protected:
  auto note(std::string what) {
    return [this, what] { trace.push_back(what + "@" + std::to_string(clock.now())); };
  }

  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  Strings trace;
};

TEST_F(RunLoopTest, RunsByDueTimeThenPostingOrderAndCancelledItemsNever) {
  loop.postAfter(0.2, note("late"));
  loop.post(note("first"));
  const TimerId cancelled = loop.postAfter(0.1, note("cancelled"));
  loop.postAfter(0.1, note("early"));
  loop.post(note("second"));
  std::thread([&] { loop.postFromAnyThread(note("worker")); }).join();
  loop.cancel(cancelled);
  loop.cancel(cancelled);  // twice is harmless
  loop.cancel(0);
  EXPECT_EQ(loop.runUntilIdle(), 3);
  loop.advance(1.0);
  EXPECT_EQ(trace, (Strings{"first@0.000000", "second@0.000000", "worker@0.000000",
                            "early@0.100000", "late@0.200000"}));
  EXPECT_DOUBLE_EQ(clock.now(), 1.0);
}

// Yields between steps.
Task stepping(Strings& trace, const Clock& clock, int steps) {
  for (int i = 0; i < steps; ++i) {
    const bool cancelled = co_await isCancelled();
    if (cancelled) break;
    trace.push_back("step@" + std::to_string(clock.now()));
    co_await yieldNow();
  }
  trace.push_back("ended@" + std::to_string(clock.now()));
}

TEST_F(RunLoopTest, TaskYieldsToWorkQueuedBetweenItsStepsAndACancelledOneStopsAtItsCheckpoint) {
  auto finishing = stepping(trace, clock, 2).start(loop);
  loop.post(note("other"));
  EXPECT_FALSE(finishing.isFinished());
  loop.runUntilIdle();
  EXPECT_TRUE(finishing.isFinished());

  auto cancelled = stepping(trace, clock, 5).start(loop);
  loop.runNext();  // one step, then suspended in the yield
  cancelled.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(trace, (Strings{"step@0.000000", "other@0.000000", "step@0.000000", "ended@0.000000",
                            "step@0.000000", "ended@0.000000"}));
}

}  // namespace
}  // namespace tolvane
