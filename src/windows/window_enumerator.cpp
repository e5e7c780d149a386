// Which windows qualify, how an application's windows are rediscovered, and the snapshot.
#include "windows/window_enumerator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_set>

namespace tolvane {

namespace {

bool isAcceptedSubrole(const std::optional<std::string>& subrole) {
  return subrole && (*subrole == ax::kStandardWindow || *subrole == ax::kDialog);
}

bool tooSmall(const Size& size) {
  return size.width < WindowEnumerator::kMinimumSide &&
         size.height < WindowEnumerator::kMinimumSide;
}

std::string appLabel(const RunningApp& app) {
  return app.bundleID ? *app.bundleID : "pid " + std::to_string(app.pid);
}

}  // namespace

std::optional<std::string> WindowEnumerator::stringAttribute(const AXElement& element,
                                                             std::string_view name) {
  auto result = s_.accessibility.copyAttribute(element, name);
  if (result.error != ax::kSuccess || !result.value) return std::nullopt;
  if (auto* text = std::get_if<std::string>(&*result.value)) return *text;
  return std::nullopt;
}

std::optional<bool> WindowEnumerator::boolAttribute(const AXElement& element,
                                                    std::string_view name) {
  auto result = s_.accessibility.copyAttribute(element, name);
  if (result.error != ax::kSuccess || !result.value) return std::nullopt;
  if (auto* flag = std::get_if<bool>(&*result.value)) return *flag;
  return std::nullopt;
}

std::optional<Size> WindowEnumerator::sizeAttribute(const AXElement& element) {
  auto result = s_.accessibility.copyAttribute(element, ax::kSize);
  if (result.error != ax::kSuccess || !result.value) return std::nullopt;
  if (auto* size = std::get_if<Size>(&*result.value)) return *size;
  return std::nullopt;
}

std::optional<SwitchWindow> WindowEnumerator::switchWindow(std::uint32_t id,
                                                           const AXElement& element,
                                                           const RunningApp& app) {
  if (!isAcceptedSubrole(stringAttribute(element, ax::kSubrole))) return std::nullopt;
  if (auto size = sizeAttribute(element); size && tooSmall(*size)) return std::nullopt;
  return SwitchWindow({.id = id,
                       .axWindow = element,
                       .pid = app.pid,
                       .title = stringAttribute(element, ax::kTitle).value_or(""),
                       .appName = SwitchWindow::appNameFor(app),
                       .bundleID = app.bundleID,
                       .isMinimized = boolAttribute(element, ax::kMinimized).value_or(false),
                       .appIsHidden = app.hidden,
                       .isAppEntry = false});
}

WindowEnumerator::AXWindowsResult WindowEnumerator::axWindows(const RunningApp& app,
                                                              double deadline) {
  AXWindowsResult out;
  const auto appElement = s_.accessibility.applicationElement(app.pid);
  auto list = s_.accessibility.copyAttribute(appElement, ax::kWindows);
  out.unresponsive = list.error == ax::kCannotComplete;
  if (list.error != ax::kSuccess || !list.value) return out;
  const auto* elements = std::get_if<std::vector<AXElement>>(&*list.value);
  if (!elements) return out;

  for (const auto& element : *elements) {
    if (s_.clock.now() >= deadline) return out;
    std::uint32_t number = 0;
    if (!element || s_.accessibility.windowNumber(element, number) != ax::kSuccess || number == 0) {
      continue;
    }
    out.listedIDs.insert(number);
    s_.resolver.noteSeen(app.pid, number, element);
    if (auto record = switchWindow(number, element, app)) {
      out.candidates.push_back(std::move(*record));
      s_.resolver.clearRejected(app.pid, number);
    }
  }
  out.completed = true;
  return out;
}

bool WindowEnumerator::refreshApp(const RunningApp& app, double deadline,
                                  const CrossSpacePass& crossSpace, bool includeAppEntries,
                                  bool revisitRejected) {
  const double started = s_.clock.now();
  auto [candidates, listedIDs, completed, unresponsive] = axWindows(app, deadline);

  std::set<std::uint32_t> allSpaces;
  if (crossSpace) {
    if (auto it = crossSpace->find(app.pid); it != crossSpace->end()) allSpaces = it->second;
  } else {
    allSpaces = s_.resolver.knownIDs(app.pid);
  }
  const auto earlierRejected = s_.resolver.rejected(app.pid);
  std::set<std::uint32_t> missing;
  for (auto number : allSpaces) {
    if (listedIDs.count(number)) continue;
    if (!revisitRejected && earlierRejected.count(number)) continue;
    missing.insert(number);
  }
  // An application that just let its own window list time out would let every element of the
  // merge time out too, each costing a messaging timeout of the main thread; try next time.
  std::set<std::uint32_t> dead;
  const bool mergeFinished =
      !unresponsive && mergeOtherSpaces(app, missing, earlierRejected, deadline, candidates, dead);

  // Even a cut-short refresh leaves a windowless application choosable.
  if (includeAppEntries && candidates.empty()) {
    candidates.push_back(SwitchWindow::appEntry(app, s_.accessibility.applicationElement(app.pid)));
  }
  std::set<std::uint32_t> liveIDs = listedIDs;
  liveIDs.insert(allSpaces.begin(), allSpaces.end());
  // Without a map the all-Spaces set is what the resolver remembered before this refresh; a
  // window whose element just proved dead must not stay in the cache on that memory.
  for (auto number : dead) liveIDs.erase(number);
  updateCache(app.pid, candidates, liveIDs, completed);

  const double elapsedMs = (s_.clock.now() - started) * 1000.0;
  if (elapsedMs > kSlowRefreshMilliseconds) {
    char line[512];
    std::snprintf(line, sizeof line, "slow app AX: %s %.0f ms (list may be partial)",
                  appLabel(app).c_str(), elapsedMs);
    s_.log.log(line);
    s_.usage.record("enumerate.slow", {{"app", app.bundleID.value_or("?")},
                                       {"ms", static_cast<std::int64_t>(elapsedMs)},
                                       {"partial", !completed}});
  }
  return completed && mergeFinished && !s_.resolver.scanCursor(app.pid);
}

bool WindowEnumerator::mergeOtherSpaces(const RunningApp& app,
                                        const std::set<std::uint32_t>& missing,
                                        const std::set<std::uint32_t>& earlierRejected,
                                        double deadline, std::vector<SwitchWindow>& candidates,
                                        std::set<std::uint32_t>& dead) {
  const auto resolved = s_.resolver.resolve(app.pid, missing, deadline);
  for (const auto& [number, element] : resolved) {
    if (s_.clock.now() >= deadline) return false;
    if (auto record = switchWindow(number, element, app)) {
      candidates.push_back(std::move(*record));
      s_.resolver.clearRejected(app.pid, number);
      continue;
    }
    // Past the deadline, no further call for this element: each may cost a whole timeout.
    if (s_.clock.now() >= deadline) return false;
    if (s_.accessibility.copyAttribute(element, ax::kRole).error == ax::kInvalidUIElement) {
      s_.resolver.forgetDead(app.pid, number);
      dead.insert(number);
      continue;
    }
    if (s_.clock.now() >= deadline) return false;
    classifyRejected(app, number, element, earlierRejected.count(number) != 0);
  }
  return true;
}

void WindowEnumerator::classifyRejected(const RunningApp& app, std::uint32_t number,
                                        const AXElement& element, bool alreadyRejected) {
  auto subroleRead = s_.accessibility.copyAttribute(element, ax::kSubrole);
  const int err = subroleRead.error;
  std::optional<std::string> subrole;
  if (err == ax::kSuccess && subroleRead.value) {
    if (auto* text = std::get_if<std::string>(&*subroleRead.value)) subrole = *text;
  }
  const auto size = sizeAttribute(element);
  const bool unanswered = err == ax::kCannotComplete;
  bool small = false;
  bool rejectedForGood = false;
  if (!size) {
    // Without a size only the subrole can condemn it, and only when the application answered.
    rejectedForGood = !unanswered && !isAcceptedSubrole(subrole);
  } else {
    small = tooSmall(*size);
    rejectedForGood = !unanswered && (small || !isAcceptedSubrole(subrole));
  }
  if (rejectedForGood) s_.resolver.noteRejected(app.pid, number);
  if (alreadyRejected) return;  // logged when it was first rejected
  std::string line = "merge reject id=" + std::to_string(number) +
                     " subrole=" + subrole.value_or("nil") + " err=" + std::to_string(err);
  if (small) {
    line += " (too small)";
  } else if (!rejectedForGood) {
    line += " (transient, not cached)";
  }
  s_.log.log(line + " app=" + app.bundleID.value_or("?"));
}

void WindowEnumerator::updateCache(Pid pid, const std::vector<SwitchWindow>& discovered,
                                   const std::set<std::uint32_t>& liveIDs,
                                   bool enumerationCompleted) {
  std::unordered_set<std::uint32_t> fresh;
  for (const auto& w : discovered) fresh.insert(w.id());
  std::vector<SwitchWindow> next = discovered;
  if (auto old = cachedByPID_.find(pid); old != cachedByPID_.end()) {
    for (const auto& w : old->second) {
      if (fresh.count(w.id())) continue;
      // A cut-short enumeration proves nothing about the windows it did not reach.
      if (!enumerationCompleted || (!w.isAppEntry() && liveIDs.count(w.id()))) next.push_back(w);
    }
  }
  if (std::any_of(next.begin(), next.end(), [](const auto& w) { return !w.isAppEntry(); })) {
    std::erase_if(next, [](const SwitchWindow& w) { return w.isAppEntry(); });
  }
  cachedByPID_[pid] = std::move(next);
}

std::vector<SwitchWindow> WindowEnumerator::snapshot(std::optional<Pid> scopePID,
                                                     bool includeAppEntries) {
  std::unordered_map<Pid, RunningApp> running;
  for (auto& app : s_.workspace.runningApplications()) {
    if (app.activationPolicy == ActivationPolicy::regular && !app.terminated) {
      running.emplace(app.pid, std::move(app));  // a repeated pid: the first wins
    }
  }
  std::erase_if(cachedByPID_, [&](const auto& entry) { return !running.count(entry.first); });

  const auto& excluded = s_.settings.excludedBundleIDs();
  const bool showHidden = s_.settings.showHiddenAppWindows();
  const bool showMinimized = s_.settings.showMinimizedWindows();
  std::size_t total = 0;
  for (const auto& [pid, list] : cachedByPID_) total += list.size();
  std::unordered_set<std::uint32_t> kept(total);
  std::vector<SwitchWindow> windows;
  windows.reserve(total);
  const auto take = [&](const std::vector<SwitchWindow>& list) {
    for (const auto& w : list) {
      if (kept.count(w.id())) continue;
      if (w.isAppEntry() && !includeAppEntries) continue;
      if (w.bundleID() &&
          std::find(excluded.begin(), excluded.end(), *w.bundleID()) != excluded.end()) {
        continue;
      }
      if (!scopePID) {
        // The live hidden flag, not the record's: hiding an application hides it at once.
        const auto app = running.find(w.pid());
        if (app != running.end() && app->second.hidden && !showHidden) continue;
        if (w.isMinimized() && !showMinimized) continue;
      }
      kept.insert(w.id());
      windows.push_back(w);
    }
  };
  if (scopePID) {
    if (auto it = cachedByPID_.find(*scopePID); it != cachedByPID_.end()) take(it->second);
  } else {
    for (const auto& [pid, list] : cachedByPID_) take(list);
  }
  return s_.order.sorted(std::move(windows));
}

}  // namespace tolvane
