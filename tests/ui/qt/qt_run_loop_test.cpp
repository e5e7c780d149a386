// The main thread's run loop on Qt's event loop: order, delays, cancellation, repetition and
// work left on a loop that is gone.
#include "ui/qt/qt_run_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/qt/test_support.h"

namespace tolvane {
namespace {

class QtRunLoopTest : public ::testing::Test {
 protected:
  // Runs Qt's event loop until some work calls finish(), or a generous bound passes. False
  // when the bound passed first.
  bool runUntilFinished() {
    const bool finished =
        test::runEventsUntil([this](std::function<void()> quit) { finish_ = std::move(quit); });
    finish_ = nullptr;
    return finished;
  }

  void finish() {
    if (finish_) finish_();
  }

  // Work that notes its name when it runs.
  RunLoop::Callback note(std::string name) {
    return [this, name = std::move(name)] { log.push_back(name); };
  }

  qt::QtRunLoop loop;
  std::vector<std::string> log;

 private:
  std::function<void()> finish_;
};

TEST_F(QtRunLoopTest, WorkRunsInOrderRepeatsTillCancelledAndNeverOnceCancelledOrOrphaned) {
  loop.postAfter(0.03, note("later"));
  loop.postAfter(0.01, note("soon"));
  loop.post(note("a"));
  const TimerId b = loop.post(note("b"));
  loop.post(note("c"));
  const TimerId cancelled = loop.postAfter(0.01, note("cancelled"));
  TimerId self = 0;
  self = loop.post([&] {
    log.push_back("self");
    loop.cancel(self);  // cancelling the running item does nothing more
  });
  loop.cancel(b);
  loop.cancel(cancelled);
  loop.cancel(0);
  loop.cancel(9999);
  // Work left on a loop that is gone.
  auto other = std::make_unique<qt::QtRunLoop>();
  other->post(note("posted"));
  other->postAfter(0.01, note("delayed"));
  other->repeatEvery(0.01, note("repeated"));
  other->postFromAnyThread(note("handed over"));
  other.reset();
  int ticks = 0;
  TimerId timer = 0;
  timer = loop.repeatEvery(0.005, [&] {
    if (++ticks < 3) return;
    loop.cancel(timer);
    // Past every delay above, and ten intervals on: a timer still running would tick again.
    loop.postAfter(0.05, [&] { finish(); });
  });

  ASSERT_TRUE(runUntilFinished());
  EXPECT_EQ(log, (std::vector<std::string>{"a", "c", "self", "soon", "later"}));
  EXPECT_EQ(ticks, 3);
}

}  // namespace
}  // namespace tolvane
