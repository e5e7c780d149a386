// Main-thread tasks on the simulated run loop: yielding and cancellation.
#include <gtest/gtest.h>

#include <string>

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
