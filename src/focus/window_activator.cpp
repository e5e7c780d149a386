// The activation sequence, its log lines and its usage event.
#include "focus/window_activator.h"

#include <cmath>

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
  const bool ok = app ? s_.workspace.activate(window.pid()) : false;
  s_.order.bump(window.id());

  s_.log.log("activate pid=" + std::to_string(window.pid()) +
             " window=" + std::to_string(window.id()) + " ok=" + (ok ? "true" : "false"));
  if (testerMode()) {
    const auto& title = window.title().empty() ? window.appName() : window.title();
    s_.log.log("activate title=" + title + " app=" + window.appName());
  }
  report(window, ok, "axRaise", started);
  return ok;
}

bool WindowActivator::activateApp(const SwitchWindow& window) {
  if (const auto app = s_.workspace.application(window.pid())) {
    if (app->hidden) s_.workspace.unhide(window.pid());
    // Re-opening asks the application for a window; activating alone would show nothing.
    if (app->bundleLocation) {
      s_.workspace.openApplication(*app->bundleLocation);
    } else {
      s_.workspace.activate(window.pid());
    }
  }
  s_.order.bump(window.id());
  s_.log.log("activate app pid=" + std::to_string(window.pid()) + " (windowless entry)");
  if (testerMode()) s_.log.log("activate app=" + window.appName() + " (no windows)");
  return true;
}

}  // namespace tolvane
