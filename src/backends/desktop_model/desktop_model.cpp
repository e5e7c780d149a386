// The desktop model's state as its backend reports it, and its notes: which applications
// launched, ended or came to the front, and which window took the focus.
#include "backends/desktop_model/desktop_model.h"

#include <algorithm>
#include <map>
#include <utility>

namespace tolvane::desktop {

using system::DesktopEntries;

Pid SyntheticPids::of(const AppKey& key) {
  if (auto it = pids_.find(key); it != pids_.end()) return it->second;
  Pid pid = 0;
  bool used = true;
  while (used) {
    if (next_ > kSyntheticCount) next_ = 1;
    pid = kSyntheticPidBase + next_++;
    used = std::any_of(pids_.begin(), pids_.end(),
                       [pid](const auto& entry) { return entry.second == pid; });
  }
  pids_.emplace(key, pid);
  return pid;
}

DesktopModel::DesktopModel(RunLoop& loop, Pid ownPid, Catalog catalog)
    : loop_(loop),
      ownPid_(ownPid),
      entries_(catalog.applicationFolders.empty() ? DesktopEntries::defaultFolders()
                                                  : std::move(catalog.applicationFolders),
               catalog.locale.empty() ? DesktopEntries::defaultLocale() : catalog.locale) {}

DesktopModel::~DesktopModel() {
  loop_.cancel(deferredDelivery_);
}

void DesktopModel::regroup(std::vector<AppGroup> groups, const Describe& describe) {
  std::map<std::pair<AppKey, Pid>, AppGroup*> byIdentity;
  for (auto& group : groups) byIdentity.emplace(std::pair{group.key, group.pid}, &group);
  const auto groupOf = [&](const App& app) {
    auto it = byIdentity.find(std::pair{app.key, app.pid});
    return it == byIdentity.end() ? nullptr : it->second;
  };
  for (const auto& app : apps_) {
    if (groupOf(app)) continue;
    RunningApp last = app.info;
    last.terminated = true;
    notes_.push_back(AppNote{WorkspaceEvent::terminated, std::move(last)});
    if (frontmost_ == app.pid) frontmost_.reset();
    if (lastRaise_ && lastRaise_->pid == app.pid) lastRaise_.reset();
  }
  std::erase_if(apps_, [&](const App& app) { return !groupOf(app); });
  std::map<std::pair<AppKey, Pid>, std::size_t> known;
  for (std::size_t i = 0; i < apps_.size(); ++i)
    known.emplace(std::pair{apps_[i].key, apps_[i].pid}, i);
  for (auto& group : groups) {
    if (auto it = known.find(std::pair{group.key, group.pid}); it != known.end()) {
      App& app = apps_[it->second];
      // Described again only when something it is made of changed: this runs on every change
      // of the window list, and a description may look through the desktop entries.
      if (app.stale || app.windows != group.windows) {
        app.info = describe(group);
        app.windows = std::move(group.windows);
        app.stale = false;
      }
      continue;
    }
    apps_.push_back(
        App{.key = group.key, .pid = group.pid, .serial = nextSerial_++, .info = describe(group)});
    apps_.back().windows = std::move(group.windows);
    notes_.push_back(AppNote{WorkspaceEvent::launched, apps_.back().info});
  }
}

void DesktopModel::markStale(Pid pid) {
  if (App* app = findApp(pid)) app->stale = true;
}

void DesktopModel::focusMoved(WindowNumber window, Pid pid, std::uint64_t serial) {
  if (focusObserver_) focusObserver_(window);
  App* app = findApp(pid);
  if (!app) return;
  app->lastActive = window;
  app->main = window;
  // Built in place: gcc 12 at -O2 otherwise warns about the other alternative's string
  // being moved uninitialised (a false positive of its variant analysis).
  notes_.emplace_back(std::in_place_type<FocusNote>, FocusNote{pid, window, serial});
  if (lastRaise_ && lastRaise_->pid != pid) lastRaise_->sent = false;
  frontmostIs(pid);
}

void DesktopModel::frontmostIs(Pid pid) {
  const App* app = findApp(pid);
  if (!app || frontmost_ == pid) return;
  frontmost_ = pid;
  notes_.push_back(AppNote{WorkspaceEvent::activated, app->info});
}

void DesktopModel::forgetFocus() {
  frontmost_.reset();
  lastRaise_.reset();
}

void DesktopModel::deliverOrDefer() {
  if (notes_.empty()) return;
  if (busy_ == 0) {
    deliver();
    return;
  }
  // Found inside a call (an event handled while the display server was asked something, an
  // observer that set off another change): delivered from the loop, after the call.
  if (deferredDelivery_) return;
  const std::weak_ptr<int> alive = alive_;
  deferredDelivery_ = loop_.post([this, alive] {
    if (!alive.lock()) return;
    deferredDelivery_ = 0;
    deliverOrDefer();
  });
}

void DesktopModel::deliver() {
  const Busy busy(*this);
  const auto notes = std::exchange(notes_, {});
  for (const auto& note : notes) {
    if (const auto* app = std::get_if<AppNote>(&note)) {
      if (!observers_.notifyWorkspace(app->event, app->app)) return;
      continue;
    }
    const auto& focus = std::get<FocusNote>(note);
    const AXElement element = std::make_shared<DesktopElement>(
        DesktopElement::Kind::window, focus.pid, focus.window, focus.serial);
    if (!observers_.notifyFocusedWindowChanged(focus.pid, element)) return;
  }
}

DesktopModel::App* DesktopModel::findApp(Pid pid) {
  return const_cast<App*>(std::as_const(*this).findApp(pid));
}

const DesktopModel::App* DesktopModel::findApp(Pid pid) const {
  auto it =
      std::find_if(apps_.begin(), apps_.end(), [pid](const App& app) { return app.pid == pid; });
  return it == apps_.end() ? nullptr : &*it;
}

const DesktopElement* DesktopModel::elementOf(const AXElement& element) {
  return dynamic_cast<const DesktopElement*>(element.get());
}

}  // namespace tolvane::desktop
