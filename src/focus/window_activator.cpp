// The activation sequence, its log lines and its usage event.
#include "focus/window_activator.h"

#include <cmath>
#include <optional>

#include "settings/preference_keys.h"

namespace tolvane {

bool WindowActivator::testerMode() const {
  return s_.preferences.boolValue(prefkey::kTesterModeEnabled).value_or(false);
}

void WindowActivator::report(const SwitchWindow& window, bool ok, const char* method,
                             double started) {
  const auto ms = static_cast<std::int64_t>(std::trunc((s_.clock.now() - started) * 1000.0));
  s_.usage.record("activate.result", {{"ok", ok},
                                      {"app", window.bundleID().value_or("?")},
                                      {"method", std::string(method)},
                                      {"minimized", window.isMinimized()},
                                      {"ms", ms}});
}

bool WindowActivator::activate(const SwitchWindow& window) {
  const double started = s_.clock.now();
  if (window.isAppEntry()) {
    const bool ok = activateApp(window);
    report(window, ok, "reopen", started);
    return ok;
  }
  return activateWindow(window, started);
}

bool WindowActivator::activateWindow(const SwitchWindow& window, double started) {
  auto& ax = s_.accessibility;
  const auto& element = window.axWindow();
  // The live state: the snapshot may be seconds old. Unreadable means trust the snapshot.
  bool minimized = window.isMinimized();
  if (auto live = ax.copyAttribute(element, ax::kMinimized);
      live.error == ax::kSuccess && live.value) {
    if (const auto* flag = std::get_if<bool>(&*live.value)) minimized = *flag;
  }
  if (minimized) ax.setAttribute(element, ax::kMinimized, false);
  const auto app = s_.workspace.application(window.pid());
  if (app && app->hidden) s_.workspace.unhide(window.pid());
  ax.setAttribute(element, ax::kMain, true);
  ax.performAction(element, ax::kRaise);

  // An answer given inside the call waits until the window is promoted, so that the order of
  // effects is the same whenever the answer comes.
  struct Answer {
    bool promoted = false;
    std::optional<bool> early;
  };
  auto answer = std::make_shared<Answer>();
  bool requested = false;
  if (app) {
    requested = s_.workspace.activate(
        window.pid(), [this, alive = std::weak_ptr<int>(alive_), answer, window, started](bool ok) {
          if (!alive.lock()) return;
          if (!answer->promoted) {
            answer->early = ok;
            return;
          }
          conclude(window, ok, started);
        });
  } else {
    answer->early = false;
  }
  s_.order.bump(window.id());
  answer->promoted = true;
  if (answer->early) {
    conclude(window, *answer->early, started);
    return *answer->early;
  }
  return requested;
}

void WindowActivator::conclude(const SwitchWindow& window, bool ok, double started) {
  s_.log.log("activate pid=" + std::to_string(window.pid()) +
             " window=" + std::to_string(window.id()) + " ok=" + (ok ? "true" : "false"));
  if (testerMode()) {
    const auto& title = window.title().empty() ? window.appName() : window.title();
    s_.log.log("activate title=" + title + " app=" + window.appName());
  }
  report(window, ok, "axRaise", started);
}

bool WindowActivator::activateApp(const SwitchWindow& window) {
  if (const auto app = s_.workspace.application(window.pid())) {
    if (app->hidden) s_.workspace.unhide(window.pid());
    // Re-opening asks the application for a window; activating alone would show nothing.
    if (app->bundleLocation) {
      s_.workspace.openApplication(*app->bundleLocation);
    } else {
      // Not awaited: an application entry counts as brought forward once asked.
      s_.workspace.activate(window.pid(), [](bool) {});
    }
  }
  s_.order.bump(window.id());
  s_.log.log("activate app pid=" + std::to_string(window.pid()) + " (windowless entry)");
  if (testerMode()) s_.log.log("activate app=" + window.appName() + " (no windows)");
  return true;
}

}  // namespace tolvane
