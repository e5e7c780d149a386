// The focus history: promotion, the 512 cap, seeding and the order of snapshots; and the
// tracker that feeds it on the simulated desktop: seeding, activations, focus changes inside and
// outside the frontmost application, launches and quits.
#include "focus/mru_tracker.h"

#include <gtest/gtest.h>

#include "focus/mru_order.h"
#include "support/sim_services.h"
#include "support/window_list.h"

namespace tolvane {
namespace {

using Ids = std::vector<std::uint32_t>;

class MRUTrackerTest : public ::testing::Test, protected test::WindowServices {
 protected:
  MRUTrackerTest() { addEditorAndMail(); }
  const Ids& history() { return tracker.order().ids(); }
};

TEST_F(MRUTrackerTest, StartSeedsTheHistoryFromOnScreenLayerZeroWindowsFrontToBack) {
  desktop.addWindow({.number = 30, .pid = 200, .layer = 3});  // above normal windows
  desktop.addRawWindowInfo({.number = 40, .layer = std::nullopt});
  desktop.addRawWindowInfo({.number = 21, .layer = 0});  // listed twice: the first place wins
  tracker.start();
  EXPECT_EQ(history(), (Ids{21, 12, 11}));
}

TEST_F(MRUTrackerTest, ActivationPromotesTheKnownWindowAtOnceAndTheFocusedOneLaterButNotOurOwn) {
  desktop.addApp({.pid = desktop.ownPid()});
  desktop.addWindow({.number = 99, .pid = desktop.ownPid()});
  tracker.start();
  desktop.setFocusedWindow(100, 11);
  desktop.setFrontmost(100);
  loop.runUntilIdle();
  loop.advance(0.15);
  EXPECT_EQ(history().front(), 11u);
  EXPECT_EQ(tracker.frontmostFocusedWindowID(), 11u);

  desktop.setFrontmost(200);
  desktop.setFocusedWindow(100, 12);  // in the background: remembered, not promoted
  loop.runUntilIdle();
  EXPECT_NE(history().front(), 12u);
  desktop.setFrontmost(100);  // coming back promotes the remembered window at once
  loop.runUntilIdle();
  EXPECT_EQ(history().front(), 12u);

  // Tolvane's own windows are never promoted, and its own notifications are never observed.
  const Ids before = history();
  desktop.setFocusedWindow(desktop.ownPid(), 99);
  desktop.setFrontmost(desktop.ownPid());
  loop.advance(1);
  EXPECT_EQ(history(), before);
  EXPECT_EQ(desktop.registeredNotifications(desktop.ownPid()), 0);
}

TEST_F(MRUTrackerTest, LeavingWithinTheDelayCancelsTheLateQuery) {
  desktop.addWindow({.number = 22, .pid = 200});
  tracker.start();
  tracker.order().bump(11);
  desktop.setFrontmost(200);
  loop.runUntilIdle();
  desktop.setFrontmost(100);
  desktop.setFocusedWindow(200, 22);  // now in the background
  loop.advance(0.15);                 // app 200's late query finds it no longer frontmost
  EXPECT_EQ(history().front(), 11u);
  EXPECT_EQ(tracker.frontmostFocusedWindowID(), std::nullopt);  // 100 never reported a window
}

TEST_F(MRUTrackerTest, LaunchedApplicationsAreObservedAfterASecondAndForgottenOnQuit) {
  tracker.start();
  desktop.launchApp({.pid = 300, .notificationsFail = true});
  loop.advance(1.0);
  EXPECT_EQ(desktop.registeredNotifications(300), 0);
  desktop.addWindow({.number = 31, .pid = 300});
  desktop.setFocusedWindow(300, 31);
  desktop.setFrontmost(300);  // the first activation tries again (and fails again)
  loop.advance(0.15);
  EXPECT_EQ(history().front(), 31u);  // the late query still finds the window

  desktop.launchApp({.pid = 400});
  loop.advance(1.0);
  EXPECT_EQ(desktop.registeredNotifications(400), 1);
  desktop.quitApp(400);
  loop.runUntilIdle();
  EXPECT_EQ(desktop.registeredNotifications(400), 0);
  EXPECT_EQ(history().front(), 31u);  // the history keeps numbers of quit applications

  // A process id used again by a new application must not inherit the old one's window.
  desktop.quitApp(300);
  loop.runUntilIdle();
  desktop.launchApp({.pid = 300});
  desktop.setFrontmost(300);
  EXPECT_EQ(tracker.frontmostFocusedWindowID(), std::nullopt);
}

using test::idsOf;

std::vector<SwitchWindow> windows(const Ids& ids) {
  std::vector<SwitchWindow> result;
  for (auto id : ids) result.emplace_back(SwitchWindow::Fields{.id = id, .pid = 1, .appName = "A"});
  return result;
}

MRUOrder historyOf(const Ids& mostRecentFirst) {
  MRUOrder order;
  for (auto id : mostRecentFirst) order.append(id);
  return order;
}

TEST(MRUOrderTest, BumpAndAppendKeepEachNumberOnce) {
  struct Case {
    const char* what;
    Ids start;
    bool bump;  // else append
    std::uint32_t id;
    Ids expected;
  };
  const Case cases[] = {
      {"bump into empty", {}, true, 7, {7}},
      {"bump of the first is a no-op", {7, 8, 9}, true, 7, {7, 8, 9}},
      {"bump from the middle keeps the others' order", {7, 8, 9}, true, 8, {8, 7, 9}},
      {"bump from the back", {7, 8, 9}, true, 9, {9, 7, 8}},
      {"bump of a new number", {7, 8}, true, 5, {5, 7, 8}},
      {"append of a new number goes last", {7, 8}, false, 5, {7, 8, 5}},
      {"append keeps an existing place", {7, 8, 9}, false, 7, {7, 8, 9}},
      {"application entries share the id space", {7}, true, 4294966061u, {4294966061u, 7}},
  };
  for (const auto& c : cases) {
    auto order = historyOf(c.start);
    if (c.bump) {
      order.bump(c.id);
    } else {
      order.append(c.id);
    }
    EXPECT_EQ(order.ids(), c.expected) << c.what;
  }
}

TEST(MRUOrderTest, PromotionTrimsToExactly512ButSeedingDoesNot) {
  MRUOrder order;
  for (std::uint32_t i = 1; i <= 600; ++i) order.append(i);
  EXPECT_EQ(order.ids().size(), 600u);  // seeding never trims

  order.bump(5);  // already present: the list is trimmed from the back
  ASSERT_EQ(order.ids().size(), 512u);
  EXPECT_EQ(order.ids().front(), 5u);
  EXPECT_EQ(order.ids().back(), 512u);

  order.bump(9999);  // new into a full list: the oldest entry goes
  ASSERT_EQ(order.ids().size(), 512u);
  EXPECT_EQ(order.ids().front(), 9999u);
  EXPECT_EQ(order.ids().back(), 511u);
}

TEST(MRUOrderTest, SortedPutsHistoryFirstAndKeepsInputOrderForTheRest) {
  struct Case {
    const char* what;
    Ids history, input, expected;
  };
  const Case cases[] = {
      {"empty history keeps the input order", {}, {30, 10, 20}, {30, 10, 20}},
      {"history first, most recent first", {30, 10}, {10, 20, 30}, {30, 10, 20}},
      {"windows without history keep their input order around ranked ones",
       {5},
       {40, 5, 20, 6, 10},
       {5, 40, 20, 6, 10}},
      {"history numbers absent from the input are ignored", {99, 20}, {10, 20}, {20, 10}},
      {"duplicate ids keep input order between them", {10}, {20, 10, 10}, {10, 10, 20}},
      {"empty input", {1, 2}, {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(idsOf(historyOf(c.history).sorted(windows(c.input))), c.expected) << c.what;
  }
}

TEST(MRUOrderTest, PromotingMovesOneWindowToTheFront) {
  const Ids input{10, 11, 12, 13, 14};
  const std::pair<std::optional<std::uint32_t>, Ids> rows[] = {
      // Nothing to move: no id, the first already, or an id not in the list.
      {std::nullopt, input},
      {10, input},
      {99, input},
      // From the middle and from the back, the others keeping their order.
      {13, {13, 10, 11, 12, 14}},
      {14, {14, 10, 11, 12, 13}},
  };
  for (const auto& [id, expected] : rows) {
    EXPECT_EQ(idsOf(MRUOrder::promoting(id, windows(input))), expected) << id.value_or(0);
  }
  // Of two records with the same id, the first moves.
  auto list = windows({1, 2, 2});
  list[2] = SwitchWindow({.id = 2, .title = "second"});
  const auto result = MRUOrder::promoting(2, list);
  EXPECT_EQ(result.front().title(), "");
  EXPECT_EQ(idsOf(result), (Ids{2, 1, 2}));
}

}  // namespace
}  // namespace tolvane
