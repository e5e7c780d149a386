// Pairing announced toplevels with sway's views.
#include "backends/wayland/wayland_desktop_matching.h"

#include <algorithm>
#include <deque>
#include <numeric>
#include <optional>
#include <string>
#include <utility>

namespace tolvane::wayland {

namespace {

/// Takes the first view of `queue` nobody has taken yet.
template <class Map, class Key>
std::optional<std::size_t> takeFirst(Map& queues, const Key& key, std::vector<bool>& taken) {
  auto it = queues.find(key);
  if (it == queues.end()) return std::nullopt;
  auto& queue = it->second;
  while (!queue.empty() && taken[queue.front()]) queue.pop_front();
  if (queue.empty()) return std::nullopt;
  const std::size_t index = queue.front();
  queue.pop_front();
  taken[index] = true;
  return index;
}

}  // namespace

std::map<ToplevelId, std::size_t> matchViews(const std::vector<ToplevelState>& toplevels,
                                             const std::vector<sway::SwayView>& views,
                                             const std::map<ToplevelId, std::int64_t>& previous) {
  std::vector<std::size_t> byCon(views.size());
  std::iota(byCon.begin(), byCon.end(), std::size_t{0});
  std::stable_sort(byCon.begin(), byCon.end(),
                   [&](std::size_t a, std::size_t b) { return views[a].conId < views[b].conId; });
  std::map<std::int64_t, std::size_t> conIndex;
  for (auto index : byCon) conIndex.emplace(views[index].conId, index);  // a repeat: first wins

  std::vector<bool> taken(views.size(), false);
  std::map<ToplevelId, std::size_t> result;
  for (const auto& toplevel : toplevels) {
    const auto was = previous.find(toplevel.id);
    if (was == previous.end()) continue;
    const auto view = conIndex.find(was->second);
    if (view == conIndex.end() || taken[view->second]) continue;
    if (views[view->second].appId != toplevel.appId) continue;
    taken[view->second] = true;
    result.emplace(toplevel.id, view->second);
  }

  std::map<std::pair<std::string, std::string>, std::deque<std::size_t>> exact;
  std::map<std::string, std::deque<std::size_t>> byApp;
  for (auto index : byCon) {
    if (taken[index]) continue;
    exact[{views[index].appId, views[index].title}].push_back(index);
    if (!views[index].appId.empty()) byApp[views[index].appId].push_back(index);
  }
  for (const auto& toplevel : toplevels) {
    if (result.count(toplevel.id)) continue;
    if (auto index = takeFirst(exact, std::pair{toplevel.appId, toplevel.title}, taken)) {
      result.emplace(toplevel.id, *index);
    }
  }
  for (const auto& toplevel : toplevels) {
    if (result.count(toplevel.id) || toplevel.appId.empty()) continue;
    if (auto index = takeFirst(byApp, toplevel.appId, taken)) result.emplace(toplevel.id, *index);
  }
  return result;
}

}  // namespace tolvane::wayland
