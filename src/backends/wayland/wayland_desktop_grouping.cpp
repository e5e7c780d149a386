// Which application each toplevel belongs to, and which process id each application gets.
#include "backends/wayland/wayland_desktop.h"

#include <set>

namespace tolvane::wayland {

namespace {

/// How many synthetic ids there are: kSyntheticPidBase + n stays a positive 32-bit pid.
constexpr Pid kSyntheticCount = 0x3FFFFFFF;

}  // namespace

WaylandDesktop::GroupKey WaylandDesktop::keyOf(const ToplevelState& state) {
  if (state.appId.empty()) return GroupKey{.appId = {}, .lone = state.id};
  return GroupKey{.appId = state.appId};
}

std::map<WaylandDesktop::GroupKey, Pid> WaylandDesktop::decidePids(
    const std::map<GroupKey, std::vector<ToplevelId>>& groups) {
  const auto isOwn = [this](const GroupKey& key) {
    return !options_.ownAppId.empty() && key.lone == 0 && key.appId == options_.ownAppId;
  };
  std::map<GroupKey, Pid> claimed;
  std::map<Pid, int> claims;
  for (const auto& [key, windows] : groups) {
    if (isOwn(key)) continue;
    if (const auto pid = swayPid(windows)) {
      claimed.emplace(key, *pid);
      ++claims[*pid];
    }
  }
  std::map<GroupKey, Pid> pids;
  for (const auto& [key, windows] : groups) {
    if (isOwn(key)) {
      pids.emplace(key, options_.ownPid);
      continue;
    }
    // A process behind two applications is no application's alone: activating "its" pid or
    // tracking its focus would mix them.
    const auto claim = claimed.find(key);
    const bool sole = claim != claimed.end() && claims.at(claim->second) == 1;
    pids.emplace(key, sole ? claim->second : syntheticPid(key));
  }
  return pids;
}

std::optional<Pid> WaylandDesktop::swayPid(const std::vector<ToplevelId>& windows) const {
  std::set<Pid> seen;
  for (auto id : windows) {
    if (const sway::SwayView* view = viewOf(id); view && view->pid > 0) seen.insert(view->pid);
  }
  // Windows of one app_id from several processes (two instances without a server) have no one
  // pid; nor does anything that claims to be this process or lies in the synthetic range.
  if (seen.size() != 1) return std::nullopt;
  const Pid pid = *seen.begin();
  if (pid >= kSyntheticPidBase || pid == options_.ownPid) return std::nullopt;
  return pid;
}

Pid WaylandDesktop::syntheticPid(const GroupKey& key) {
  if (auto it = synthetic_.find(key); it != synthetic_.end()) return it->second;
  std::set<Pid> used;
  for (const auto& [other, pid] : synthetic_) used.insert(pid);
  // Numbers are handed out upwards and, after a billion applications, again from the bottom,
  // skipping those still in use.
  Pid pid = 0;
  do {
    if (nextSynthetic_ > kSyntheticCount) nextSynthetic_ = 1;
    pid = kSyntheticPidBase + nextSynthetic_++;
  } while (used.count(pid));
  synthetic_.emplace(key, pid);
  return pid;
}

}  // namespace tolvane::wayland
