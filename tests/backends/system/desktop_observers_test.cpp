// The observers both real desktops keep: who is told of what, and that a handler removing
// itself, another one or the whole registry never leads to a call on something gone.
#include "backends/system/desktop_observers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tolvane::system {
namespace {

TEST(DesktopObservers, FocusReachesOnlyTheRegisteredObserversOfItsApplication) {
  DesktopObservers observers;
  std::vector<std::string> told;
  const auto observe = [&](Pid pid, const std::string& name) {
    return observers.addAccessibility(
        pid, [&told, name](const AXElement&) { told.push_back(name); },
        [](Pid, const AXElement&, std::string_view) { return ax::kSuccess; });
  };
  auto first = observe(1, "first"), unregistered = observe(1, "unregistered"),
       other = observe(2, "other");
  ASSERT_EQ(first->addNotification(nullptr, ax::kFocusedWindowChanged), ax::kSuccess);
  EXPECT_EQ(first->addNotification(nullptr, ax::kFocusedWindowChanged),
            DesktopObservers::kNotificationAlreadyRegistered);
  ASSERT_EQ(other->addNotification(nullptr, ax::kFocusedWindowChanged), ax::kSuccess);
  EXPECT_TRUE(observers.notifyFocusedWindowChanged(1, nullptr));
  EXPECT_EQ(told, std::vector<std::string>{"first"});

  // Dropped, an observer hears nothing more; one outliving the registry is harmless.
  first.reset();
  auto survivor = std::make_unique<DesktopObservers>();
  auto late = survivor->addAccessibility(
      3, [](const AXElement&) {}, [](Pid, const AXElement&, std::string_view) { return 0; });
  survivor.reset();
  EXPECT_EQ(late->addNotification(nullptr, ax::kFocusedWindowChanged), ax::kFailure);
  late.reset();
  EXPECT_TRUE(observers.notifyFocusedWindowChanged(1, nullptr));
  EXPECT_EQ(told.size(), 1u);
}

TEST(DesktopObservers, AHandlerMayRemoveOthersOrEndTheRegistryMidDelivery) {
  auto observers = std::make_unique<DesktopObservers>();
  std::vector<std::string> told;
  ObserverToken second = 0;
  observers->addWorkspace(WorkspaceEvent::launched, [&](const RunningApp&) {
    told.push_back("first");
    observers->removeWorkspace(second);
  });
  second = observers->addWorkspace(WorkspaceEvent::launched,
                                   [&](const RunningApp&) { told.push_back("second"); });
  EXPECT_TRUE(observers->notifyWorkspace(WorkspaceEvent::launched, RunningApp{}));
  EXPECT_EQ(told, std::vector<std::string>{"first"});

  // A handler that ends the registry: the one after it is never called.
  told.clear();
  observers->addWorkspace(WorkspaceEvent::activated, [&](const RunningApp&) {
    told.push_back("ender");
    observers.reset();
  });
  observers->addWorkspace(WorkspaceEvent::activated,
                          [&](const RunningApp&) { told.push_back("after"); });
  EXPECT_FALSE(observers->notifyWorkspace(WorkspaceEvent::activated, RunningApp{}));
  EXPECT_EQ(told, std::vector<std::string>{"ender"});
}

}  // namespace
}  // namespace tolvane::system
