// Which application each toplevel belongs to, and which process id each application gets.
//
//   model                            | on Wayland
//   ---------------------------------+-------------------------------------------------------------
//   application key                  | the app_id; a toplevel without one is its own (lone); a
//                                    | toplevel the compositor says is this process's is ours
//   pid                              | Options::ownPid for ours and for ownAppId; else the pid
//                                    | the compositor reports (Plasma), or sway's view pid,
//                                    | when the app_id's windows agree on one that no other
//                                    | app_id claims, that is not ours and not synthetic; else
//                                    | the model's synthetic pid for the key
#include "backends/wayland/wayland_desktop.h"

#include <set>

namespace tolvane::wayland {

desktop::AppKey WaylandDesktop::keyOf(const ToplevelState& state) const {
  // The compositor knows which client made a window, whatever app_id it set: one of ours is
  // ours, so that the core leaves it out like every window of this process.
  if (options_.ownPid != 0 && state.pid == options_.ownPid) return ownKey();
  if (state.appId.empty()) return desktop::AppKey{.name = {}, .lone = state.id};
  return desktop::AppKey{.name = state.appId};
}

std::map<desktop::AppKey, Pid> WaylandDesktop::decidePids(
    const std::map<desktop::AppKey, std::vector<ToplevelId>>& groups) {
  // A toplevel without app_id is lone, so the key of an empty ownAppId names our pid's alone.
  const auto isOwn = [this](const desktop::AppKey& key) { return key == ownKey(); };
  std::map<desktop::AppKey, Pid> claimed;
  std::map<Pid, int> claims;
  for (const auto& [key, windows] : groups) {
    if (isOwn(key)) continue;
    if (const auto pid = reportedPid(windows)) {
      claimed.emplace(key, *pid);
      ++claims[*pid];
    }
  }
  std::map<desktop::AppKey, Pid> pids;
  for (const auto& [key, windows] : groups) {
    if (isOwn(key)) {
      pids.emplace(key, options_.ownPid);
      continue;
    }
    // A process behind two applications is no application's alone: activating "its" pid or
    // tracking its focus would mix them.
    const auto claim = claimed.find(key);
    const bool sole = claim != claimed.end() && claims.at(claim->second) == 1;
    pids.emplace(key, sole ? claim->second : synthetic_.of(key));
  }
  return pids;
}

std::optional<Pid> WaylandDesktop::reportedPid(const std::vector<ToplevelId>& windows) const {
  std::set<Pid> seen;
  for (auto id : windows) {
    const sway::SwayView* view = viewOf(id);
    const Pid pid = windows_.at(id).state.pid > 0 ? windows_.at(id).state.pid
                    : view                        ? view->pid
                                                  : 0;
    if (pid > 0) seen.insert(pid);
  }
  // Windows of one app_id from several processes (two instances without a server) have no one
  // pid; nor does anything that claims to be this process or lies in the synthetic range.
  if (seen.size() != 1) return std::nullopt;
  const Pid pid = *seen.begin();
  if (pid >= kSyntheticPidBase || pid == options_.ownPid) return std::nullopt;
  return pid;
}

}  // namespace tolvane::wayland
