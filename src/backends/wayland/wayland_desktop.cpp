// The Wayland desktop's state as of the latest `done` and sway's latest tree, fed to the
// desktop model: toplevels grouped into applications, the focus and its recency.
//
//   model                            | from the compositor (and sway, when it runs)
//   ---------------------------------+-------------------------------------------------------------
//   trusted                          | while the source lends its list: until `finished`, and
//                                    | again from `lent`
//   windows, their order             | the toplevels as of each `done`, in announcement order,
//                                    | but none that asks to be skipped by switchers (one that
//                                    | starts asking is closed; one that stops, announced)
//   applications, their keys         | one per app_id; a toplevel without app_id alone
//   pids                             | see wayland_desktop_grouping.cpp
//   focus moved                      | a toplevel newly activated (the one activated last wins
//                                    | while two look activated); none activated: no change
//   focus recency                    | each activation; at start sway's focus order, then the
//                                    | activated toplevel, then announcement order
//   description                      | the desktop entry the app_id names, else the app_id
#include "backends/wayland/wayland_desktop.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <utility>

#include "backends/wayland/wayland_desktop_matching.h"

namespace tolvane::wayland {

namespace {

/// Views read at most from one tree: far more windows than anyone keeps open, and a bound on
/// what a misbehaving IPC answer can cost each later pairing.
constexpr std::size_t kMaxViews = 4096;

}  // namespace

WaylandDesktop::WaylandDesktop(ToplevelSource& source, RunLoop& loop, Sway sway, Options options)
    : DesktopModel(loop, options.ownPid, Catalog{options.applicationFolders, options.locale}),
      source_(source),
      sway_(std::move(sway)),
      options_(std::move(options)),
      activation_(loop, [this](ToplevelId id) {
        const Window* window = findWindow(id);
        return window && window->state.activated;
      }) {
  setTrusted(source_.lends());
  seed();
  source_.setObserver({
      .changed = [this](const ToplevelState& state) { handleChanged(state); },
      .closed = [this](ToplevelId id) { handleClosed(id); },
      .finished = [this] { handleFinished(); },
      .lent = [this] { setTrusted(true); },
  });
}

WaylandDesktop::~WaylandDesktop() {
  source_.setObserver({});
}

// --- Following the source and sway ----------------------------------------------------------

void WaylandDesktop::seed() {
  readViews();
  for (const auto& state : source_.toplevels()) {
    if (state.skipSwitcher || windows_.count(state.id)) continue;
    windows_[state.id].state = state;
    order_.push_back(state.id);
    noteDesktops(state);
  }
  rematch();
  // The first history: sway's focus order where sway knows the window, else the activated one
  // first and then the order of announcement. The core seeds its own history from it.
  std::vector<ToplevelId> initial = order_;
  const auto rank = [this](ToplevelId id) {
    const sway::SwayView* view = viewOf(id);
    const int group = view ? 0 : windows_.at(id).state.activated ? 1 : 2;
    return std::tuple{group, view ? view->focusRank : 0};
  };
  std::stable_sort(initial.begin(), initial.end(),
                   [&](ToplevelId a, ToplevelId b) { return rank(a) < rank(b); });
  recencyCounter_ = initial.size();
  for (std::size_t i = 0; i < initial.size(); ++i)
    windows_.at(initial[i]).recency = initial.size() - i;
  regroup();
  refreshFocus();
  dropNotes();  // what runs at start is not news
}

void WaylandDesktop::handleChanged(const ToplevelState& state) {
  if (!trusted()) return;  // the list was withdrawn: nothing more belongs to it
  if (state.skipSwitcher) return handleClosed(state.id);
  noteDesktops(state);
  auto [it, fresh] = windows_.try_emplace(state.id);
  Window& window = it->second;
  const bool wasActivated = !fresh && window.state.activated;
  window.state = state;
  if (fresh) order_.push_back(state.id);
  if (state.activated && !wasActivated) window.recency = ++recencyCounter_;
  rematch();
  // Sway may not have been asked since the window appeared: ask once, so that the new
  // application gets its process at once rather than a synthetic pid it then loses.
  if (fresh && sway_.views && !viewOf_.count(state.id)) {
    readViews();
    rematch();
  }
  regroup();
  refreshFocus();
  if (state.activated) activation_.activated(state.id);
  deliverOrDefer();
}

void WaylandDesktop::handleClosed(ToplevelId id) {
  if (!windows_.erase(id)) return;
  std::erase(order_, id);
  viewOf_.erase(id);
  matched_.erase(id);
  regroup();
  refreshFocus();
  activation_.closed(id);
  deliverOrDefer();
}

void WaylandDesktop::handleFinished() {
  setTrusted(false);
  windows_.clear();
  order_.clear();
  viewOf_.clear();
  matched_.clear();
  regroup();
  focused_.reset();
  forgetFocus();
  activation_.abandon();
  deliverOrDefer();
}

void WaylandDesktop::swayTreeChanged() {
  if (!trusted() || !sway_.views) return;
  readViews();
  rematch();
  regroup();
  refreshFocus();
  deliverOrDefer();
}

void WaylandDesktop::readViews() {
  if (!sway_.views) return;
  views_ = sway_.views();
  if (views_.size() > kMaxViews) views_.resize(kMaxViews);
  for (const auto& view : views_) {
    // The scratchpad (no name) is no Space: its windows are on none until shown.
    if (!view.workspace.empty() && !spaceIds_.count(view.workspace)) {
      spaceIds_.emplace(view.workspace, spaceIds_.size() + 1);
    }
  }
}

void WaylandDesktop::noteDesktops(const ToplevelState& state) {
  for (const auto& desktop : state.desktops) spaceIds_.try_emplace(desktop, spaceIds_.size() + 1);
}

bool WaylandDesktop::desktopsKnown() const {
  return std::any_of(windows_.begin(), windows_.end(),
                     [](const auto& entry) { return !entry.second.state.desktops.empty(); });
}

void WaylandDesktop::rematch() {
  if (views_.empty()) {
    viewOf_.clear();
    return;
  }
  std::vector<ToplevelState> toplevels;
  toplevels.reserve(order_.size());
  for (auto id : order_) toplevels.push_back(windows_.at(id).state);
  viewOf_ = matchViews(toplevels, views_, matched_);
  matched_.clear();
  for (const auto& [id, index] : viewOf_) matched_.emplace(id, views_[index].conId);
}

void WaylandDesktop::regroup() {
  std::map<desktop::AppKey, std::vector<ToplevelId>> groups;
  std::vector<desktop::AppKey> order;
  for (auto id : order_) {
    const desktop::AppKey key = keyOf(windows_.at(id).state);
    auto& members = groups[key];
    if (members.empty()) order.push_back(key);
    members.push_back(id);
  }
  const auto pids = decidePids(groups);
  for (auto id : order_) windows_.at(id).pid = pids.at(keyOf(windows_.at(id).state));
  synthetic_.keepOnly([&](const desktop::AppKey& key) { return groups.count(key) > 0; });
  std::vector<desktop::AppGroup> reported;
  reported.reserve(order.size());
  for (const auto& key : order) {
    reported.push_back({.key = key, .pid = pids.at(key), .windows = std::move(groups.at(key))});
  }
  DesktopModel::regroup(std::move(reported), [this](const desktop::AppGroup& group) {
    return describe(group.key, group.pid);
  });
}

std::optional<ToplevelId> WaylandDesktop::bestActivated() const {
  // Two toplevels look activated while the compositor's `done` for the one losing the focus
  // is still on its way: the one activated last has it.
  std::optional<ToplevelId> best;
  std::uint64_t bestRecency = 0;
  for (auto id : order_) {
    const Window& window = windows_.at(id);
    if (window.state.activated && (!best || window.recency > bestRecency)) {
      best = id;
      bestRecency = window.recency;
    }
  }
  return best;
}

void WaylandDesktop::refreshFocus() {
  const auto best = bestActivated();
  if (!best) return;  // our own overlay holds the keyboard, or a change is half-way
  const Pid pid = windows_.at(*best).pid;
  if (focused_ == best) {
    frontmostIs(pid);  // its application may have a new pid
    return;
  }
  focused_ = best;
  const App* app = findApp(pid);
  focusMoved(*best, pid, app ? app->serial : 0);
}

RunningApp WaylandDesktop::describe(const desktop::AppKey& key, Pid pid) const {
  RunningApp info{.pid = pid, .activationPolicy = ActivationPolicy::regular};
  if (key.name.empty()) return info;  // nothing names it
  const system::DesktopEntry* entry = entries().byID(key.name);
  if (!entry) entry = entries().byWMClass(key.name, key.name);
  if (entry) {
    info.bundleID = entry->id;
    info.localizedName = entries().localizedName(*entry);
    info.bundleLocation = entry->path;
  } else {
    info.bundleID = key.name;
    info.localizedName = key.name;
  }
  return info;
}

// --- Lookups --------------------------------------------------------------------------------

const WaylandDesktop::Window* WaylandDesktop::findWindow(ToplevelId id) const {
  auto it = windows_.find(id);
  return it == windows_.end() ? nullptr : &it->second;
}

const sway::SwayView* WaylandDesktop::viewOf(ToplevelId id) const {
  auto it = viewOf_.find(id);
  return it == viewOf_.end() ? nullptr : &views_[it->second];
}

std::optional<ToplevelId> WaylandDesktop::lastFocusedOf(const App& app) const {
  std::optional<ToplevelId> best;
  std::uint64_t bestRecency = 0;
  for (auto id : app.windows) {
    const std::uint64_t recency = windows_.at(id).recency;
    if (recency > bestRecency) {
      best = id;
      bestRecency = recency;
    }
  }
  return best;
}

std::vector<ToplevelId> WaylandDesktop::frontToBack() const {
  // Keys looked up once, not at every comparison: every background pass lists the windows, and
  // at a thousand of them the lookups were most of an idle Tolvane's time.
  struct Keyed {
    bool unfocused;
    std::uint64_t age;
    ToplevelId id;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(order_.size());
  for (ToplevelId id : order_) {
    keyed.push_back(
        {id != focused_, std::numeric_limits<std::uint64_t>::max() - windows_.at(id).recency, id});
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return std::pair{a.unfocused, a.age} < std::pair{b.unfocused, b.age};
  });
  std::vector<ToplevelId> ids;
  ids.reserve(keyed.size());
  for (const Keyed& k : keyed) ids.push_back(k.id);
  return ids;
}

WindowInfo WaylandDesktop::infoOf(ToplevelId id) const {
  return WindowInfo{
      .number = static_cast<std::int64_t>(id), .layer = 0, .ownerPid = windows_.at(id).pid};
}

}  // namespace tolvane::wayland
