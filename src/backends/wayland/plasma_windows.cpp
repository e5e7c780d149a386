// Plasma's window objects, each followed from its initial state until it is unmapped.
//
//   ToplevelState                    | from org_kde_plasma_window (interface version 10 on KWin 5,
//                                    | 16 on KWin 6: see PlasmaWindows::versionFor)
//   ---------------------------------+-------------------------------------------------------------
//   a new window                     | the manager's `window` (at version 13 and later
//                                    | `window_with_uuid`), answered with get_window (or
//                                    | get_window_by_uuid); published first at its `initial_state`
//   id                               | a ToplevelId of ours; the uuid only names it to KWin
//   title, appId                     | `title_changed`, `app_id_changed`, bounded and repaired
//   activated, minimized, maximized, | the `state_changed` bits active, minimized, maximized,
//   fullscreen, onAllDesktops        | fullscreen, on_all_desktops
//   skipSwitcher                     | the bits skipswitcher or skiptaskbar (panels, the
//                                    | desktop, notifications: what X11 calls no regular window)
//   pid                              | `pid_changed`; 0 and values beyond a pid are unknown
//   desktops                         | `virtual_desktop_entered` / `_left` ids, bounded
//   outputs                          | the output under the centre of the `geometry` (the
//                                    | protocol names no outputs)
//   closed                           | `unmapped` (the object is destroyed then)
//   finished                         | the global's removal (the protocol has no such event)
//   stacking order, icons,           | ignored: the focus history comes from active-state
//   parents, activities, menus       | changes
//
//   request                          | sent
//   ---------------------------------+-------------------------------------------------------------
//   activate                         | set_state(minimized, 0) when minimized, then
//                                    | set_state(active, active)
//   close, setMinimized              | close; set_state(minimized, minimized or 0)
#include "backends/wayland/plasma_windows.h"

#include <wayland-client.h>

#include <algorithm>
#include <limits>

#include "backends/wayland/toplevel_values.h"
#include "plasma-window-management-client-protocol.h"

namespace tolvane::wayland {

namespace {

/// KWin's uuids are 38 characters; a desktop id is a uuid too, or a short name.
constexpr std::size_t kMaxUuidBytes = 256;
/// Far more desktops than KWin allows (20): what a misbehaving compositor can make us keep.
constexpr std::size_t kMaxDesktops = 64;

std::string text(const char* raw, std::size_t maxBytes = kMaxToplevelTextBytes) {
  return boundedText(raw != nullptr ? raw : "", maxBytes);
}

void applyFlags(ToplevelState& state, std::uint32_t flags) {
  const auto has = [flags](std::uint32_t bit) { return (flags & bit) != 0; };
  state.activated = has(ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE);
  state.minimized = has(ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED);
  state.maximized = has(ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MAXIMIZED);
  state.fullscreen = has(ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_FULLSCREEN);
  state.onAllDesktops = has(ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ON_ALL_DESKTOPS);
  state.skipSwitcher = has(ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_SKIPSWITCHER) ||
                       has(ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_SKIPTASKBAR);
}

}  // namespace

struct PlasmaWindows::Entry {
  PlasmaWindows* owner = nullptr;
  org_kde_plasma_window* window = nullptr;
  ToplevelState state;
  /// The initial state has come: from then on `state` is published.
  bool announced = false;
};

// The C callbacks, befriended through the nested type.
struct PlasmaWindows::Events {
  static Entry& of(void* data) { return *static_cast<Entry*>(data); }
  template <typename Change>
  static void update(void* data, Change change) {
    Entry& entry = of(data);
    const ToplevelState before = entry.state;
    change(entry.state);
    entry.owner->changed(entry, before);
  }

  static void title(void* d, org_kde_plasma_window*, const char* title) {
    update(d, [&](ToplevelState& s) { s.title = text(title); });
  }
  static void appId(void* d, org_kde_plasma_window*, const char* appId) {
    update(d, [&](ToplevelState& s) { s.appId = text(appId); });
  }
  static void state(void* d, org_kde_plasma_window*, std::uint32_t flags) {
    update(d, [&](ToplevelState& s) { applyFlags(s, flags); });
  }
  static void pid(void* d, org_kde_plasma_window*, std::uint32_t pid) {
    const auto valid = pid <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    update(d, [&](ToplevelState& s) { s.pid = valid ? static_cast<std::int32_t>(pid) : 0; });
  }
  static void desktopEntered(void* d, org_kde_plasma_window*, const char* raw) {
    const std::string id = text(raw, kMaxUuidBytes);
    update(d, [&](ToplevelState& s) {
      const bool known = std::find(s.desktops.begin(), s.desktops.end(), id) != s.desktops.end();
      if (!id.empty() && !known && s.desktops.size() < kMaxDesktops) s.desktops.push_back(id);
    });
  }
  static void desktopLeft(void* d, org_kde_plasma_window*, const char* raw) {
    const std::string id = text(raw, kMaxUuidBytes);
    update(d, [&](ToplevelState& s) { std::erase(s.desktops, id); });
  }
  static void initialState(void* d, org_kde_plasma_window*) {
    Entry& entry = of(d);
    if (entry.announced) return;
    entry.announced = true;
    entry.owner->publish(entry);
  }
  static void unmapped(void* d, org_kde_plasma_window*) {
    Entry& entry = of(d);
    entry.owner->remove(entry);
  }

  static void ignoreText(void*, org_kde_plasma_window*, const char*) {}
  static void ignoreTwoTexts(void*, org_kde_plasma_window*, const char*, const char*) {}
  static void ignore(void*, org_kde_plasma_window*) {}
  static void ignoreNumber(void*, org_kde_plasma_window*, std::int32_t) {}
  static void ignoreParent(void*, org_kde_plasma_window*, org_kde_plasma_window*) {}
  static void geometry(void* d, org_kde_plasma_window*, std::int32_t x, std::int32_t y,
                       std::uint32_t width, std::uint32_t height) {
    Entry& entry = of(d);
    if (!entry.owner->outputAt_) return;
    // In 64 bits: a client may report any size.
    const auto centre = [](std::int32_t start, std::uint32_t size) {
      return static_cast<int>(std::clamp<std::int64_t>(std::int64_t{start} + size / 2,
                                                       std::numeric_limits<int>::min(),
                                                       std::numeric_limits<int>::max()));
    };
    std::string output = entry.owner->outputAt_(centre(x, width), centre(y, height));
    update(d, [&](ToplevelState& s) {
      s.outputs.clear();
      if (!output.empty()) s.outputs.push_back(std::move(output));
    });
  }

  static void window(void* d, org_kde_plasma_window_management* manager, std::uint32_t id) {
    // From version 13 on, windows are announced by uuid: a numbered one as well would be a
    // second object for the same window.
    if (org_kde_plasma_window_management_get_version(manager) >=
        ORG_KDE_PLASMA_WINDOW_MANAGEMENT_WINDOW_WITH_UUID_SINCE_VERSION) {
      return;
    }
    static_cast<PlasmaWindows*>(d)->add(org_kde_plasma_window_management_get_window(manager, id));
  }
  static void windowWithUuid(void* d, org_kde_plasma_window_management* manager, std::uint32_t,
                             const char* uuid) {
    // Repaired, a uuid would name another window, or none: such an announcement is dropped.
    if (uuid == nullptr || uuid[0] == '\0' || text(uuid, kMaxUuidBytes) != uuid) return;
    static_cast<PlasmaWindows*>(d)->add(
        org_kde_plasma_window_management_get_window_by_uuid(manager, uuid));
  }
  static void showDesktop(void*, org_kde_plasma_window_management*, std::uint32_t) {}
  static void stacking(void*, org_kde_plasma_window_management*, wl_array*) {}
  static void stackingUuids(void*, org_kde_plasma_window_management*, const char*) {}
};

namespace {

const org_kde_plasma_window_listener kWindowListener = {
    .title_changed = PlasmaWindows::Events::title,
    .app_id_changed = PlasmaWindows::Events::appId,
    .state_changed = PlasmaWindows::Events::state,
    .virtual_desktop_changed = PlasmaWindows::Events::ignoreNumber,
    .themed_icon_name_changed = PlasmaWindows::Events::ignoreText,
    .unmapped = PlasmaWindows::Events::unmapped,
    .initial_state = PlasmaWindows::Events::initialState,
    .parent_window = PlasmaWindows::Events::ignoreParent,
    .geometry = PlasmaWindows::Events::geometry,
    .icon_changed = PlasmaWindows::Events::ignore,
    .pid_changed = PlasmaWindows::Events::pid,
    .virtual_desktop_entered = PlasmaWindows::Events::desktopEntered,
    .virtual_desktop_left = PlasmaWindows::Events::desktopLeft,
    .application_menu = PlasmaWindows::Events::ignoreTwoTexts,
    .activity_entered = PlasmaWindows::Events::ignoreText,
    .activity_left = PlasmaWindows::Events::ignoreText,
    .resource_name_changed = PlasmaWindows::Events::ignoreText,
};

const org_kde_plasma_window_management_listener kManagerListener = {
    .show_desktop_changed = PlasmaWindows::Events::showDesktop,
    .window = PlasmaWindows::Events::window,
    .stacking_order_changed = PlasmaWindows::Events::stacking,
    .stacking_order_uuid_changed = PlasmaWindows::Events::stackingUuids,
    .window_with_uuid = PlasmaWindows::Events::windowWithUuid,
};

void destroyWindow(org_kde_plasma_window* window) {
  if (org_kde_plasma_window_get_version(window) >= ORG_KDE_PLASMA_WINDOW_DESTROY_SINCE_VERSION) {
    org_kde_plasma_window_destroy(window);
  } else {
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(window));
  }
}

}  // namespace

PlasmaWindows::PlasmaWindows(wl_display* display, org_kde_plasma_window_management* manager,
                             OutputAt outputAt)
    : display_(display), manager_(manager), outputAt_(std::move(outputAt)) {
  org_kde_plasma_window_management_add_listener(manager_, &kManagerListener, this);
}

PlasmaWindows::~PlasmaWindows() {
  for (auto& entry : entries_) destroyWindow(entry->window);
  // The interface has no destructor request: only our proxy goes.
  if (manager_ != nullptr) org_kde_plasma_window_management_destroy(manager_);
}

std::vector<ToplevelState> PlasmaWindows::toplevels() const {
  std::vector<ToplevelState> states;
  for (const auto& entry : entries_) {
    if (entry->announced) states.push_back(entry->state);
  }
  return states;
}

PlasmaWindows::Entry* PlasmaWindows::find(ToplevelId id) const {
  for (const auto& entry : entries_) {
    if (entry->announced && entry->state.id == id) return entry.get();
  }
  return nullptr;
}

void PlasmaWindows::add(org_kde_plasma_window* window) {
  if (window == nullptr) return;
  auto entry = std::make_unique<Entry>();
  entry->owner = this;
  entry->window = window;
  entry->state.id = nextId_++;
  org_kde_plasma_window_add_listener(window, &kWindowListener, entry.get());
  entries_.push_back(std::move(entry));
}

void PlasmaWindows::changed(Entry& entry, const ToplevelState& before) {
  if (entry.announced && entry.state != before) publish(entry);
}

void PlasmaWindows::publish(Entry& entry) {
  if (observer_.changed) observer_.changed(entry.state);
}

void PlasmaWindows::remove(Entry& entry) {
  const bool announced = entry.announced;
  const ToplevelId id = entry.state.id;
  destroyWindow(entry.window);
  std::erase_if(entries_, [&](const auto& e) { return e.get() == &entry; });
  if (announced && observer_.closed) observer_.closed(id);
}

void PlasmaWindows::withdraw() {
  while (!entries_.empty()) remove(*entries_.front());
  if (manager_ != nullptr) org_kde_plasma_window_management_destroy(manager_);
  manager_ = nullptr;
  if (observer_.finished) observer_.finished();
}

bool PlasmaWindows::activate(ToplevelId id) {
  Entry* entry = find(id);
  if (entry == nullptr) return false;
  constexpr std::uint32_t kMinimized = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;
  constexpr std::uint32_t kActive = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
  if (entry->state.minimized) org_kde_plasma_window_set_state(entry->window, kMinimized, 0);
  org_kde_plasma_window_set_state(entry->window, kActive, kActive);
  wl_display_flush(display_);
  return true;
}

bool PlasmaWindows::close(ToplevelId id) {
  Entry* entry = find(id);
  if (entry == nullptr) return false;
  org_kde_plasma_window_close(entry->window);
  wl_display_flush(display_);
  return true;
}

bool PlasmaWindows::setMinimized(ToplevelId id, bool minimized) {
  Entry* entry = find(id);
  if (entry == nullptr) return false;
  constexpr std::uint32_t kMinimized = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;
  org_kde_plasma_window_set_state(entry->window, kMinimized, minimized ? kMinimized : 0);
  wl_display_flush(display_);
  return true;
}

}  // namespace tolvane::wayland
