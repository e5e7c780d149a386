// The pass loop and the workspace observers of the background refresh.
#include "windows/background_refresh.h"

#include <algorithm>
#include <cstdio>

#include "settings/preference_keys.h"

namespace tolvane {

namespace {

const std::set<std::uint32_t>& windowsOf(const std::optional<SpaceMap>& map, Pid pid) {
  static const std::set<std::uint32_t> none;
  if (!map) return none;
  auto it = map->find(pid);
  return it == map->end() ? none : it->second;
}

}  // namespace

bool BackgroundRefresh::isEligible(const RunningApp& app) const {
  if (app.activationPolicy != ActivationPolicy::regular || app.terminated) return false;
  if (app.pid == s_.workspace.ownPid()) return false;
  const auto& excluded = s_.settings.excludedBundleIDs();
  return !app.bundleID ||
         std::find(excluded.begin(), excluded.end(), *app.bundleID) == excluded.end();
}

void BackgroundRefresh::start() {
  if (running_) return;
  running_ = true;
  auto& ws = s_.workspace;
  // Each notification hands its work to a later turn of the loop, as a new main-thread task.
  const auto refreshLater = [this](const RunningApp& app) {
    if (app.activationPolicy != ActivationPolicy::regular) return;
    const Pid pid = app.pid;
    s_.runLoop.post([this, pid] {
      if (running_) refreshSingle(pid);
    });
  };
  observers_ = {
      ws.addObserver(WorkspaceEvent::launched, refreshLater),
      ws.addObserver(WorkspaceEvent::activated, refreshLater),
      ws.addObserver(WorkspaceEvent::terminated,
                     [this](const RunningApp& app) { s_.enumerator.removeApp(app.pid); }),
  };
  task_ = passLoop().start(s_.runLoop);
}

void BackgroundRefresh::stop() {
  if (!running_) return;
  running_ = false;
  task_.cancel();
  for (auto token : observers_) s_.workspace.removeObserver(token);
  observers_.clear();
}

void BackgroundRefresh::refreshSingle(Pid pid) {
  if (!s_.accessibility.isProcessTrusted()) return;
  const auto map = s_.resolver.windowIDsAcrossSpaces();
  for (const auto& app : s_.workspace.runningApplications()) {
    if (app.pid != pid || !isEligible(app)) continue;
    s_.enumerator.refreshApp(app, s_.clock.now() + kDeadlineSeconds, map, true, false);
  }
  s_.enumerator.snapshot(pid, true);  // also prunes processes that are gone
}

Task BackgroundRefresh::passLoop() {
  std::int64_t pass = 1;
  std::optional<SpaceMap> lastMap;
  std::map<Pid, std::int64_t> pending;
  std::optional<Pid> previousFrontmost;
  for (;;) {
    // Awaited into variables: GCC 12 miscompiles a co_await inside a condition.
    const bool cancelled = co_await isCancelled();
    if (cancelled) co_return;
    if (!s_.accessibility.isProcessTrusted()) {
      co_await sleepFor(kPassPauseSeconds);
      continue;
    }
    const auto map = s_.resolver.windowIDsAcrossSpaces();
    const auto frontmost = s_.workspace.frontmostPid();
    const bool full = !map || pass % kFullPassPeriod == 0;

    std::vector<RunningApp> apps;
    for (auto& app : s_.workspace.runningApplications()) {
      if (isEligible(app)) apps.push_back(std::move(app));
    }
    // Applications never refreshed first: they contribute nothing to a snapshot until then.
    std::stable_sort(apps.begin(), apps.end(), [&](const RunningApp& a, const RunningApp& b) {
      return !s_.enumerator.isCached(a.pid) && s_.enumerator.isCached(b.pid);
    });

    int refreshed = 0;
    for (const auto& app : apps) {
      const bool stop = co_await isCancelled();
      if (stop) co_return;
      const bool changed = windowsOf(map, app.pid) != windowsOf(lastMap, app.pid);
      const auto count = pending.find(app.pid);
      const bool retryOnce = count != pending.end() && count->second == 1;
      if (!full && !changed && !retryOnce && s_.enumerator.isCached(app.pid) &&
          frontmost != app.pid && previousFrontmost != app.pid) {
        continue;
      }
      if (s_.enumerator.refreshApp(app, s_.clock.now() + kDeadlineSeconds, map, true, full)) {
        pending.erase(app.pid);
      } else {
        ++pending[app.pid];
      }
      ++refreshed;
      co_await yieldNow();
    }

    if (s_.preferences.boolValue(prefkey::kTesterModeEnabled).value_or(false)) {
      char line[160];
      std::snprintf(line, sizeof line, "refresh pass=%lld full=%s apps=%d/%zu pending=%zu",
                    static_cast<long long>(pass), full ? "true" : "false", refreshed, apps.size(),
                    pending.size());
      s_.log.log(line);
    }
    if (map) lastMap = map;
    ++pass;
    previousFrontmost = frontmost;
    co_await sleepFor(kPassPauseSeconds);
  }
}

}  // namespace tolvane
