// The Wayland desktop's state as of the latest `done` and sway's latest tree, and its
// notifications, which the workspace (wayland_desktop_workspace.cpp), the window server
// (wayland_desktop_window_server.cpp) and accessibility (wayland_desktop_accessibility.cpp)
// answer from.
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
    : source_(source),
      loop_(loop),
      sway_(std::move(sway)),
      options_(std::move(options)),
      entries_(options_.applicationFolders.empty() ? DesktopEntries::defaultFolders()
                                                   : options_.applicationFolders,
               options_.locale.empty() ? DesktopEntries::defaultLocale() : options_.locale),
      activation_(loop, [this](ToplevelId id) {
        const Window* window = findWindow(id);
        return window && window->state.activated;
      }) {
  seed();
  source_.setObserver({
      .changed = [this](const ToplevelState& state) { handleChanged(state); },
      .closed = [this](ToplevelId id) { handleClosed(id); },
      .finished = [this] { handleFinished(); },
  });
}

WaylandDesktop::~WaylandDesktop() {
  source_.setObserver({});
  loop_.cancel(deferredDelivery_);
}

// --- Following the source and sway ----------------------------------------------------------

void WaylandDesktop::seed() {
  readViews();
  for (const auto& state : source_.toplevels()) {
    if (windows_.count(state.id)) continue;
    windows_[state.id].state = state;
    order_.push_back(state.id);
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
  notes_.clear();  // what runs at start is not news
}

void WaylandDesktop::handleChanged(const ToplevelState& state) {
  if (!trusted_) return;  // the list was withdrawn: nothing more belongs to it
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
  trusted_ = false;
  windows_.clear();
  order_.clear();
  viewOf_.clear();
  matched_.clear();
  regroup();
  focused_.reset();
  frontmost_.reset();
  lastRaise_.reset();
  activation_.abandon();
  deliverOrDefer();
}

void WaylandDesktop::swayTreeChanged() {
  if (!trusted_ || !sway_.views) return;
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
  std::map<GroupKey, std::vector<ToplevelId>> groups;
  std::vector<GroupKey> order;
  for (auto id : order_) {
    const GroupKey key = keyOf(windows_.at(id).state);
    auto& members = groups[key];
    if (members.empty()) order.push_back(key);
    members.push_back(id);
  }
  const auto pids = decidePids(groups);
  for (auto id : order_) windows_.at(id).pid = pids.at(keyOf(windows_.at(id).state));

  for (const auto& app : apps_) {
    const auto kept = pids.find(app.key);
    if (kept != pids.end() && kept->second == app.pid) continue;
    RunningApp last = app.info;
    last.terminated = true;
    notes_.push_back(AppNote{WorkspaceEvent::terminated, std::move(last)});
    if (frontmost_ == app.pid) frontmost_.reset();
    if (lastRaise_ && lastRaise_->pid == app.pid) lastRaise_.reset();
  }
  std::erase_if(apps_, [&](const App& app) {
    const auto kept = pids.find(app.key);
    return kept == pids.end() || kept->second != app.pid;
  });
  std::erase_if(synthetic_, [&](const auto& entry) { return !groups.count(entry.first); });
  for (const auto& key : order) {
    auto it =
        std::find_if(apps_.begin(), apps_.end(), [&](const App& app) { return app.key == key; });
    if (it != apps_.end()) {
      it->windows = groups.at(key);
      continue;
    }
    const Pid pid = pids.at(key);
    apps_.push_back(
        App{.key = key, .pid = pid, .serial = nextSerial_++, .info = describe(key, pid)});
    apps_.back().windows = groups.at(key);
    notes_.push_back(AppNote{WorkspaceEvent::launched, apps_.back().info});
  }
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
  const Window& window = windows_.at(*best);
  App* app = findApp(window.pid);
  const bool moved = focused_ != best;
  focused_ = best;
  if (moved && focusObserver_) focusObserver_(*best);
  if (!app) return;
  if (moved) {
    app->main = *best;
    // Built in place: gcc 12 at -O2 otherwise warns about the other alternative's string
    // being moved uninitialised (a false positive of its variant analysis).
    notes_.emplace_back(std::in_place_type<FocusNote>, FocusNote{app->pid, *best, app->serial});
    if (lastRaise_ && lastRaise_->pid != app->pid) lastRaise_->sent = false;
  }
  if (frontmost_ != app->pid) {
    frontmost_ = app->pid;
    notes_.push_back(AppNote{WorkspaceEvent::activated, app->info});
  }
}

RunningApp WaylandDesktop::describe(const GroupKey& key, Pid pid) {
  RunningApp info{.pid = pid, .activationPolicy = ActivationPolicy::regular};
  if (key.appId.empty()) return info;  // nothing names it
  const DesktopEntry* entry = entries_.byID(key.appId);
  if (!entry) entry = entries_.byWMClass(key.appId, key.appId);
  if (entry) {
    info.bundleID = entry->id;
    info.localizedName = entries_.localizedName(*entry);
    info.bundleLocation = entry->path;
  } else {
    info.bundleID = key.appId;
    info.localizedName = key.appId;
  }
  return info;
}

void WaylandDesktop::deliverOrDefer() {
  if (notes_.empty()) return;
  if (busy_ == 0) {
    deliver();
    return;
  }
  // Found inside a call (a sway event handled while sway was asked something, an observer
  // that set off another change): delivered from the loop, after the call.
  if (deferredDelivery_) return;
  const std::weak_ptr<int> alive = alive_;
  deferredDelivery_ = loop_.post([this, alive] {
    if (!alive.lock()) return;
    deferredDelivery_ = 0;
    deliverOrDefer();
  });
}

void WaylandDesktop::deliver() {
  const Busy busy(*this);
  const auto notes = std::exchange(notes_, {});
  const std::weak_ptr<int> alive = alive_;
  for (const auto& note : notes) {
    if (const auto* app = std::get_if<AppNote>(&note)) {
      if (!observers_.notifyWorkspace(app->event, app->app)) return;
      continue;
    }
    const auto& focus = std::get<FocusNote>(note);
    const AXElement element = std::make_shared<WaylandElement>(
        WaylandElement::Kind::window, focus.pid, focus.window, focus.serial);
    if (!observers_.notifyFocusedWindowChanged(focus.pid, element)) return;
  }
}

// --- Lookups --------------------------------------------------------------------------------

const WaylandDesktop::Window* WaylandDesktop::findWindow(ToplevelId id) const {
  auto it = windows_.find(id);
  return it == windows_.end() ? nullptr : &it->second;
}

WaylandDesktop::App* WaylandDesktop::findApp(Pid pid) {
  return const_cast<App*>(std::as_const(*this).findApp(pid));
}

const WaylandDesktop::App* WaylandDesktop::findApp(Pid pid) const {
  auto it =
      std::find_if(apps_.begin(), apps_.end(), [pid](const App& app) { return app.pid == pid; });
  return it == apps_.end() ? nullptr : &*it;
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

AXElement WaylandDesktop::windowElement(ToplevelId id) const {
  const Pid pid = windows_.at(id).pid;
  const App* app = findApp(pid);
  return std::make_shared<WaylandElement>(WaylandElement::Kind::window, pid, id,
                                          app ? app->serial : 0);
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
