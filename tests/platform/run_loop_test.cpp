// The simulated run loop and main-thread tasks: ordering, timers, cancellation and yielding.
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

TEST_F(RunLoopTest, ALateRepeatingTimerSkipsMissedTicksKeepsItsPhaseAndCanCancelItself) {
  std::vector<double> ticks;
  TimerId id = 0;
  id = loop.repeatEvery(1.0, [&] {
    ticks.push_back(clock.now());
    if (ticks.size() == 3) loop.cancel(id);
  });
  // A main-thread stall of 3.5 s right after start: the ticks at 1, 2 and 3 s are missed.
  loop.post([&] { clock.advance(3.5); });
  loop.advance(10.0);
  EXPECT_EQ(ticks, (std::vector<double>{3.5, 4.0, 5.0}));
  EXPECT_EQ(loop.pendingCount(), 0u);
}

// Yields between steps, or sleeps `pause` seconds; `frame` lives as long as the coroutine's frame.
Task stepping(Strings& trace, const Clock& clock, int steps, double pause,
              [[maybe_unused]] std::shared_ptr<int> frame = nullptr) {
  for (int i = 0; i < steps; ++i) {
    const bool cancelled = co_await isCancelled();
    if (cancelled) break;
    trace.push_back("step@" + std::to_string(clock.now()));
    if (pause > 0) {
      co_await sleepFor(pause);
    } else {
      co_await yieldNow();
    }
  }
  trace.push_back("ended@" + std::to_string(clock.now()));
}

TEST_F(RunLoopTest, TaskYieldsToWorkQueuedBetweenItsStepsAndACancelledOneStopsAtItsCheckpoint) {
  auto finishing = stepping(trace, clock, 2, 0).start(loop);
  loop.post(note("other"));
  EXPECT_FALSE(finishing.isFinished());
  loop.runUntilIdle();
  EXPECT_TRUE(finishing.isFinished());

  auto cancelled = stepping(trace, clock, 5, 0).start(loop);
  loop.runNext();  // one step, then suspended in the yield
  cancelled.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(trace, (Strings{"step@0.000000", "other@0.000000", "step@0.000000", "ended@0.000000",
                            "step@0.000000", "ended@0.000000"}));
}

TEST_F(RunLoopTest, CancellingASleepingTaskWakesItAtOnce) {
  auto handle = stepping(trace, clock, 100, 5.0).start(loop);
  loop.advance(12.0);
  handle.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(trace,
            (Strings{"step@0.000000", "step@5.000000", "step@10.000000", "ended@12.000000"}));
  EXPECT_TRUE(handle.isFinished());
  EXPECT_EQ(loop.pendingCount(), 0u);
}

TEST(RunLoopLifetime, DestroyingTheLoopReleasesSuspendedTasks) {
  const auto frame = std::make_shared<int>();
  Strings trace;
  {
    sim::SimClock clock;
    sim::SimRunLoop loop(clock);
    auto handle = stepping(trace, clock, 1, 100.0, frame).start(loop);
    loop.runUntilIdle();
    EXPECT_EQ(frame.use_count(), 2);
  }
  EXPECT_EQ(frame.use_count(), 1);
}

}  // namespace
}  // namespace tolvane
