// Main-thread tasks on the simulated run loop: yielding and cancellation.
#include <gtest/gtest.h>

#include <string>

#include "backends/sim/sim_run_loop.h"
#include "base/task.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;

// Yields between steps.
Task stepping(Strings& trace, int steps) {
  for (int i = 0; i < steps; ++i) {
    const bool cancelled = co_await isCancelled();
    if (cancelled) break;
    trace.push_back("step");
    co_await yieldNow();
  }
  trace.push_back("ended");
}

TEST(RunLoopTest, TaskYieldsToWorkQueuedBetweenItsStepsAndACancelledOneStopsAtItsCheckpoint) {
  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  Strings trace;
  auto finishing = stepping(trace, 2).start(loop);
  loop.post([&] { trace.push_back("other"); });
  EXPECT_FALSE(finishing.isFinished());
  loop.runUntilIdle();
  EXPECT_TRUE(finishing.isFinished());

  auto cancelled = stepping(trace, 5).start(loop);
  loop.runNext();  // one step, then suspended in the yield
  cancelled.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(trace, (Strings{"step", "other", "step", "ended", "step", "ended"}));
}

}  // namespace
}  // namespace tolvane
