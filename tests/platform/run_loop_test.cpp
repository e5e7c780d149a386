// The simulated run loop and main-thread tasks: ordering, timers, cancellation and yielding.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "backends/sim/sim_run_loop.h"
#include "base/task.h"

namespace tolvane {
namespace {

class RunLoopTest : public ::testing::Test {
 protected:
  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  std::vector<std::string> trace;

  auto note(std::string what) {
    return [this, what] { trace.push_back(what + "@" + std::to_string(clock.now())); };
  }
};

TEST_F(RunLoopTest, RunsByDueTimeThenPostingOrderAndCancelledItemsNever) {
  loop.postAfter(0.2, note("late"));
  loop.post(note("first"));
  const TimerId cancelled = loop.postAfter(0.1, note("cancelled"));
  loop.postAfter(0.1, note("early"));
  loop.post(note("second"));
  loop.cancel(cancelled);
  loop.cancel(cancelled);  // twice is harmless
  loop.cancel(0);
  EXPECT_EQ(loop.runUntilIdle(), 2);
  loop.advance(1.0);
  EXPECT_EQ(trace, (std::vector<std::string>{"first@0.000000", "second@0.000000", "early@0.100000",
                                             "late@0.200000"}));
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

TEST_F(RunLoopTest, WorkPostedFromAnotherThreadRunsOnTheLoop) {
  std::thread worker([&] { loop.postFromAnyThread(note("from worker")); });
  worker.join();
  EXPECT_EQ(loop.runUntilIdle(), 1);
  EXPECT_EQ(trace.size(), 1u);
}

Task countingTask(std::vector<std::string>& trace, int steps) {
  for (int i = 0; i < steps; ++i) {
    const bool cancelled = co_await isCancelled();
    if (cancelled) {
      trace.push_back("cancelled");
      co_return;
    }
    trace.push_back("step " + std::to_string(i));
    co_await yieldNow();
  }
  trace.push_back("done");
}

TEST_F(RunLoopTest, TaskYieldsToWorkQueuedBetweenItsStepsAndACancelledOneStopsAtItsCheckpoint) {
  auto finishing = countingTask(trace, 2).start(loop);
  loop.post([this] { trace.push_back("other"); });
  EXPECT_FALSE(finishing.isFinished());
  loop.runUntilIdle();
  EXPECT_TRUE(finishing.isFinished());

  auto cancelled = countingTask(trace, 5).start(loop);
  loop.runNext();  // step 0, then suspended in the yield
  cancelled.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(trace,
            (std::vector<std::string>{"step 0", "other", "step 1", "done", "step 0", "cancelled"}));
}

Task sleepingTask(std::vector<std::string>& trace, const Clock& clock) {
  for (;;) {
    const bool cancelled = co_await isCancelled();
    if (cancelled) break;
    trace.push_back("pass@" + std::to_string(clock.now()));
    co_await sleepFor(5.0);
  }
  trace.push_back("ended@" + std::to_string(clock.now()));
}

TEST_F(RunLoopTest, CancellingASleepingTaskWakesItAtOnce) {
  auto handle = sleepingTask(trace, clock).start(loop);
  loop.advance(12.0);
  handle.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(trace, (std::vector<std::string>{"pass@0.000000", "pass@5.000000", "pass@10.000000",
                                             "ended@12.000000"}));
  EXPECT_TRUE(handle.isFinished());
  EXPECT_EQ(loop.pendingCount(), 0u);
}

struct DestructionProbe {
  bool* destroyed;
  ~DestructionProbe() { *destroyed = true; }
};

Task probeTask(bool* destroyed) {
  DestructionProbe probe{destroyed};
  co_await sleepFor(100.0);
}

TEST(RunLoopLifetime, DestroyingTheLoopReleasesSuspendedTasks) {
  bool destroyed = false;
  {
    sim::SimClock clock;
    sim::SimRunLoop loop(clock);
    auto handle = probeTask(&destroyed).start(loop);
    loop.runUntilIdle();
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace tolvane
