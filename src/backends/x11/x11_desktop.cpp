// The X11 desktop's cache of the window manager's state, its notifications, the workspace and
// the window server. (Accessibility: x11_desktop_accessibility.cpp.)
//
//   Workspace                        | on X11
//   ---------------------------------+-------------------------------------------------------------
//   running application, pid         | clients of _NET_CLIENT_LIST grouped by a live local
//                                    | _NET_WM_PID, else by creating X client (kSyntheticPidBase+n)
//   bundle id, localized name        | the desktop entry of _GTK_APPLICATION_ID or WM_CLASS (its
//                                    | id, Name for the locale), else the WM_CLASS class
//   regular activation policy        | a window of type normal or dialog, not skip-taskbar; else
//                                    | accessory
//   hidden, unhide                   | never hidden; unhide does nothing
//   frontmost application            | the owner of _NET_ACTIVE_WINDOW
//   launched / terminated            | a process's first window enters / last leaves the list
//   activated                        | PropertyNotify of _NET_ACTIVE_WINDOW on the root window
//   activate                         | _NET_ACTIVE_WINDOW to its main, last active or topmost
//                                    | window; answered by x11_desktop_activation.cpp
//   open application / URL           | the entry's Exec, detached / xdg-open, gio open, browsers
//   application icon                 | a PNG of the entry's Icon: its path, or the hicolor sizes
//                                    | under the XDG data folders
//   ApplicationCatalog               | every desktop entry not NoDisplay, sorted by name
//
//   WindowServer                     | on X11
//   ---------------------------------+-------------------------------------------------------------
//   on-screen windows                | _NET_CLIENT_LIST_STACKING topmost first, not hidden, on the
//                                    | current desktop or sticky; desktop-type windows left out
//   every window                     | stacking order, then _NET_CLIENT_LIST
//   window number, layer             | the XID; layer 0, docks kDockLayer
//   Spaces, windows on Spaces        | EWMH desktops (_NET_NUMBER_OF_DESKTOPS, _NET_WM_DESKTOP),
//                                    | Space id = desktop + 1; connection id kConnectionID
//   remote tokens                    | none (hasRemoteTokens false)
//   symbolic hotkeys                 | none: no setter, so the guard stands down
//   secure input                     | another client holds the keyboard (the tap's probe); no pid
//   process exists                   | kill(pid, 0); a synthetic pid while its client has windows
#include "backends/x11/x11_desktop.h"

#include "backends/x11/x11_window_icons.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <deque>
#include <span>
#include <unordered_set>
#include <utility>

namespace tolvane::x11 {

namespace {

/// What pagers send as the source of an activation: the user asked for it. Window managers
/// with focus-stealing prevention honour this (with a fresh timestamp) where they would ignore
/// an application's request.
constexpr std::uint32_t kSourcePager = 2;
/// The layer the window server reports for docks and panels: not 0, so nobody takes them for
/// windows to switch to.
constexpr std::int64_t kDockLayer = 20;
/// New windows read per round trip: a thousand of them cost a few round trips, while the
/// replies xcb holds at once stay bounded (each property read is bounded in ewmh).
constexpr std::size_t kReadBatch = 64;
/// What a desktop hears of a window it follows: property changes, size changes, destruction.
constexpr std::uint32_t kFollowedEvents =
    XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;

bool contains(const std::vector<std::uint32_t>& list, std::uint32_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

bool processAlive(Pid pid) {
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

/// Host names compared without case and without their domain: WM_CLIENT_MACHINE is whatever
/// the client's libraries thought the host was called.
bool sameHost(std::string_view a, std::string_view b) {
  a = a.substr(0, a.find('.'));
  b = b.substr(0, b.find('.'));
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

/// Everything the desktop keeps of a new window, asked for at once.
struct ClientRead {
  ClientRead(xcb_connection_t* connection, const Atoms& atoms, xcb_window_t window)
      : window(window),
        facts(connection, atoms, window),
        title(connection, atoms, window),
        size(connection, window) {}

  xcb_window_t window;
  PendingClientFacts facts;
  PendingTitle title;
  PendingSize size;
};

}  // namespace

X11Desktop::X11Desktop(Connection& connection, RunLoop& loop,
                       std::function<bool()> secureInputProbe, Options options)
    : connection_(connection),
      xcb_(connection.xcb()),
      atoms_(connection),
      secureInputProbe_(std::move(secureInputProbe)),
      entries_(options.applicationFolders.empty() ? DesktopEntries::defaultFolders()
                                                  : std::move(options.applicationFolders),
               options.locale.empty() ? DesktopEntries::defaultLocale() : options.locale),
      ownPid_(getpid()),
      hostname_(hostName()),
      activation_(loop, [this] { return readActiveWindow(); }) {
  // Select first, then read: a change between the two arrives as an event, never goes missing.
  connection_.selectRootEvents(XCB_EVENT_MASK_PROPERTY_CHANGE);
  connection_.addSink(this);
  refreshTrust();
  notes_.clear();  // what runs at start is not news
}

X11Desktop::~X11Desktop() {
  connection_.removeSink(this);
}

// --- Following the window manager -----------------------------------------------------------

bool X11Desktop::handleEvent(const xcb_generic_event_t& event) {
  noteServerTime(event);
  switch (eventType(event)) {
    case XCB_PROPERTY_NOTIFY: {
      const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (change.window == connection_.root()) {
        handleRootProperty(change.atom);
      } else if (clients_.count(change.window)) {
        handleClientProperty(change.window, change.atom);
      }
      break;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      if (destroyed.window == wmCheckWindow_) refreshTrust();  // the window manager went away
      handleClientStructure(event);
      break;
    }
    case XCB_CONFIGURE_NOTIFY:
      handleClientStructure(event);
      break;
    default:
      break;
  }
  deliver();
  return false;  // others may want the same events
}

void X11Desktop::noteServerTime(const xcb_generic_event_t& event) {
  xcb_timestamp_t time = XCB_CURRENT_TIME;
  switch (eventType(event)) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    case XCB_MOTION_NOTIFY:
      time = reinterpret_cast<const xcb_key_press_event_t&>(event).time;
      break;
    case XCB_ENTER_NOTIFY:
    case XCB_LEAVE_NOTIFY:
      time = reinterpret_cast<const xcb_enter_notify_event_t&>(event).time;
      break;
    case XCB_PROPERTY_NOTIFY:
      time = reinterpret_cast<const xcb_property_notify_event_t&>(event).time;
      break;
    default:
      break;
  }
  // Server time wraps after 49 days, so the latest time seen counts, not the largest.
  if (time != XCB_CURRENT_TIME) latestServerTime_ = time;
}

void X11Desktop::handleRootProperty(xcb_atom_t atom) {
  if (atom == atoms_.supportingWmCheck || atom == atoms_.supported) {
    refreshTrust();
  } else if (atom == atoms_.clientList) {
    refreshClientList();
  } else if (atom == atoms_.clientListStacking) {
    refreshStacking();
  } else if (atom == atoms_.activeWindow) {
    refreshActive();
  } else if (atom == atoms_.currentDesktop || atom == atoms_.numberOfDesktops) {
    refreshDesktops();
  }
}

void X11Desktop::handleClientProperty(xcb_window_t window, xcb_atom_t atom) {
  if (atom == atoms_.wmIcon || atom == XCB_ATOM_WM_HINTS) {
    if (auto it = clients_.find(window); it != clients_.end()) it->second.icons.clear();
    return;
  }
  if (atom == atoms_.wmName || atom == XCB_ATOM_WM_NAME) {
    // Read again when next asked: a terminal may retitle its window many times in between.
    clients_[window].title.reset();
    return;
  }
  const bool identity = atom == atoms_.wmPid || atom == XCB_ATOM_WM_CLIENT_MACHINE;
  const bool fact = identity || atom == XCB_ATOM_WM_CLASS || atom == atoms_.gtkApplicationID ||
                    atom == atoms_.wmWindowType || atom == atoms_.wmState ||
                    atom == XCB_ATOM_WM_TRANSIENT_FOR || atom == atoms_.wmDesktop;
  if (!fact) return;
  auto facts = readClientFacts(xcb_, atoms_, window);
  if (!facts) return;  // gone: the client list will say so
  Client& client = clients_[window];
  client.facts = std::move(*facts);
  // The application a window belongs to is decided once; only a new claim can move it, not a
  // process that exits while its window lingers.
  if (identity) client.pid = groupPid(window, client.facts);
  if (App* app = findApp(client.pid)) app->stale = true;  // its policy or name may change
  regroup();
}

void X11Desktop::handleClientStructure(const xcb_generic_event_t& event) {
  // Only the client window's own notifications (its event field is the window itself): a
  // client's child windows are none of ours.
  if (eventType(event) == XCB_CONFIGURE_NOTIFY) {
    const auto& change = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
    auto it = clients_.find(change.window);
    if (it == clients_.end() || change.event != change.window) return;
    it->second.size = PixelSize{change.width, change.height};
    return;
  }
  const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
  auto it = clients_.find(destroyed.window);
  if (it != clients_.end() && destroyed.event == destroyed.window) it->second.destroyed = true;
}

void X11Desktop::refreshTrust() {
  if (connectionLost()) return;
  const xcb_window_t root = connection_.root();
  const Property check = readProperty(xcb_, root, atoms_.supportingWmCheck);
  const xcb_window_t checkWindow = check.first().value_or(XCB_WINDOW_NONE);
  bool trusted = false;
  if (checkWindow != XCB_WINDOW_NONE) {
    // A stale property from a window manager that died points at a window that is gone (or
    // reused by someone else, which does not point back at itself).
    PendingProperty self(xcb_, checkWindow, atoms_.supportingWmCheck);
    PendingProperty supported(xcb_, root, atoms_.supported);
    const Property selfCheck = self.take();
    const auto features = supported.take().values();
    trusted = selfCheck.ok() && selfCheck.first() == checkWindow &&
              contains(features, atoms_.clientList) && contains(features, atoms_.activeWindow);
  }
  if (trusted && checkWindow != wmCheckWindow_) {
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_discard_reply(
        xcb_,
        xcb_change_window_attributes_checked(xcb_, checkWindow, XCB_CW_EVENT_MASK, &mask).sequence);
  }
  wmCheckWindow_ = trusted ? checkWindow : xcb_window_t{XCB_WINDOW_NONE};
  trusted_ = trusted;
  refreshDesktops();
  refreshClientList();
  refreshStacking();
  refreshActive();
}

void X11Desktop::refreshClientList() {
  std::vector<xcb_window_t> listed;
  if (trusted_) {
    const Property list = readProperty(xcb_, connection_.root(), atoms_.clientList);
    if (list.status == ReadStatus::noReply) return;
    listed = list.values();
  }
  // Sets, not searches of the list: this runs on every change of a list of a thousand windows.
  const std::unordered_set<xcb_window_t> current(listed.begin(), listed.end());
  std::vector<xcb_window_t> fresh;
  std::unordered_set<xcb_window_t> queued;
  for (auto window : listed) {
    if (!clients_.count(window) && queued.insert(window).second) fresh.push_back(window);
  }
  addClients(fresh);
  std::erase_if(clients_, [&](const auto& entry) { return !current.count(entry.first); });
  clientOrder_.clear();
  std::unordered_set<xcb_window_t> ordered;
  for (auto window : listed) {
    if (clients_.count(window) && ordered.insert(window).second) clientOrder_.push_back(window);
  }
  regroup();
  activation_.clientsChanged();
}

void X11Desktop::addClients(const std::vector<xcb_window_t>& windows) {
  for (std::size_t first = 0; first < windows.size(); first += kReadBatch) {
    const auto batch =
        std::span(windows).subspan(first, std::min(kReadBatch, windows.size() - first));
    std::deque<ClientRead> reads;  // in place: pending reads cannot move
    for (auto window : batch) {
      // The events of the window keep what is read here current; selected before the reads,
      // so a change in between arrives as an event. The event mask is per client, so this
      // replaces nothing another program selected; windows of this very connection (our own,
      // when the connection is Qt's) keep the mask their owner chose.
      if (!isOwnResource(window)) {
        xcb_discard_reply(xcb_, xcb_change_window_attributes_checked(
                                    xcb_, window, XCB_CW_EVENT_MASK, &kFollowedEvents)
                                    .sequence);
      }
      reads.emplace_back(xcb_, atoms_, window);
    }
    for (auto& read : reads) {
      auto facts = read.facts.take();
      if (!facts) continue;  // destroyed before we could look: it never was an application's
      Client client{.serial = nextSerial_++,
                    .pid = groupPid(read.window, *facts),
                    .facts = std::move(*facts),
                    .followed = !isOwnResource(read.window)};
      ReadStatus status = ReadStatus::ok;
      auto title = read.title.take(status);
      if (status == ReadStatus::ok) client.title = std::move(title);
      client.size = read.size.take(status);  // unknown when the read failed: read when asked
      clients_[read.window] = std::move(client);
    }
  }
}

void X11Desktop::refreshStacking() {
  if (!trusted_) {
    stacking_.clear();
    return;
  }
  const Property list = readProperty(xcb_, connection_.root(), atoms_.clientListStacking);
  if (list.status != ReadStatus::noReply) stacking_ = list.values();
}

void X11Desktop::refreshActive() {
  xcb_window_t window = XCB_WINDOW_NONE;
  if (trusted_) {
    const Property active = readProperty(xcb_, connection_.root(), atoms_.activeWindow);
    if (active.status == ReadStatus::noReply) return;
    window = active.first().value_or(XCB_WINDOW_NONE);
  }
  // A window can become active before its PropertyNotify for the client list was handled.
  if (window != XCB_WINDOW_NONE && !clients_.count(window)) refreshClientList();
  const Client* client = findClient(window);
  active_ = client ? window : xcb_window_t{XCB_WINDOW_NONE};
  activation_.activeChanged(active_);
  if (!client || window == lastFocused_) return;
  lastFocused_ = window;
  if (focusObserver_) focusObserver_(window);

  App* app = findApp(client->pid);
  if (!app) return;
  app->lastActive = window;
  app->main = window;
  // Built in place: gcc 12 at -O2 otherwise warns about the other alternative's string
  // being moved uninitialised (a false positive of its variant analysis).
  notes_.emplace_back(std::in_place_type<FocusNote>,
                      FocusNote{client->pid, window, client->serial});
  if (lastRaise_ && lastRaise_->pid != client->pid) lastRaise_->sent = false;
  if (frontmost_ != client->pid) {
    frontmost_ = client->pid;
    notes_.push_back(AppNote{WorkspaceEvent::activated, app->info});
  }
}

void X11Desktop::refreshDesktops() {
  if (!trusted_) {
    currentDesktop_ = 0;
    numberOfDesktops_ = 1;
    return;
  }
  PendingProperty current(xcb_, connection_.root(), atoms_.currentDesktop);
  PendingProperty number(xcb_, connection_.root(), atoms_.numberOfDesktops);
  currentDesktop_ = current.take().first().value_or(0);
  numberOfDesktops_ = std::max<std::uint32_t>(1, number.take().first().value_or(1));
}

void X11Desktop::regroup() {
  std::map<Pid, std::vector<xcb_window_t>> groups;
  std::vector<Pid> order;
  for (auto window : clientOrder_) {
    const Pid pid = clients_.at(window).pid;
    if (!groups.count(pid)) order.push_back(pid);
    groups[pid].push_back(window);
  }
  for (const auto& app : apps_) {
    if (groups.count(app.pid)) continue;
    RunningApp last = app.info;
    last.terminated = true;
    notes_.push_back(AppNote{WorkspaceEvent::terminated, std::move(last)});
    if (frontmost_ == app.pid) frontmost_.reset();
    if (lastRaise_ && lastRaise_->pid == app.pid) lastRaise_.reset();
  }
  std::erase_if(apps_, [&](const App& app) { return !groups.count(app.pid); });
  for (const Pid pid : order) {
    auto& windows = groups[pid];
    if (App* app = findApp(pid)) {
      // Described again only when something it is made of changed: this runs on every change
      // of the client list, and a description may look through the desktop entries.
      if (app->stale || app->windows != windows) {
        app->info = describe(pid, windows);
        app->windows = std::move(windows);
        app->stale = false;
      }
      continue;
    }
    apps_.push_back(App{.pid = pid, .serial = nextSerial_++, .info = describe(pid, windows)});
    apps_.back().windows = std::move(windows);
    notes_.push_back(AppNote{WorkspaceEvent::launched, apps_.back().info});
  }
}

RunningApp X11Desktop::describe(Pid pid, const std::vector<xcb_window_t>& windows) {
  RunningApp info{.pid = pid, .activationPolicy = ActivationPolicy::accessory};
  const ClientFacts* named = nullptr;
  for (auto window : windows) {
    const ClientFacts& facts = clients_.at(window).facts;
    const xcb_atom_t type = facts.effectiveType(atoms_);
    if ((type == atoms_.typeNormal || type == atoms_.typeDialog) &&
        !facts.hasState(atoms_.stateSkipTaskbar)) {
      info.activationPolicy = ActivationPolicy::regular;
    }
    const bool hasName =
        !facts.gtkApplicationID.empty() || !facts.windowClass.empty() || !facts.instance.empty();
    if (!named && hasName) named = &facts;
  }
  if (!named) return info;
  const DesktopEntry* entry = entries_.byID(named->gtkApplicationID);
  if (!entry) entry = entries_.byWMClass(named->instance, named->windowClass);
  if (entry) {
    info.bundleID = entry->id;
    info.localizedName = entries_.localizedName(*entry);
    info.bundleLocation = entry->path;
  } else if (const auto& name = named->windowClass.empty() ? named->instance : named->windowClass;
             !name.empty()) {
    info.bundleID = name;
    info.localizedName = name;
  }
  return info;
}

Pid X11Desktop::groupPid(xcb_window_t window, const ClientFacts& facts) const {
  // Ours by the connection that made it: any client can write our pid into its property, and
  // the core never lists this process's windows.
  if (isOwnResource(window)) return ownPid_;
  if (facts.claimedPid && *facts.claimedPid != static_cast<std::uint32_t>(ownPid_)) {
    const auto claimed = *facts.claimedPid;
    const bool plausible = claimed > 0 && claimed < static_cast<std::uint32_t>(kSyntheticPidBase);
    const bool local = !facts.machine || sameHost(*facts.machine, hostname_);
    if (plausible && local && processAlive(static_cast<Pid>(claimed))) {
      return static_cast<Pid>(claimed);
    }
  }
  return syntheticPid(window);
}

Pid X11Desktop::syntheticPid(xcb_window_t window) const {
  // The server hands every client the same mask of low bits for its own ids; the bits above
  // it number the client.
  const std::uint32_t mask = xcb_get_setup(xcb_)->resource_id_mask;
  const std::uint32_t client = window >> std::countr_one(mask);
  return kSyntheticPidBase + static_cast<Pid>(client & 0x3FFFFFFF);
}

bool X11Desktop::isOwnResource(xcb_window_t window) const {
  const xcb_setup_t* setup = xcb_get_setup(xcb_);
  return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

void X11Desktop::deliver() {
  if (notes_.empty()) return;
  const auto notes = std::move(notes_);
  notes_.clear();
  const std::weak_ptr<int> alive = alive_;
  for (const auto& note : notes) {
    if (const auto* app = std::get_if<AppNote>(&note)) {
      std::vector<ObserverToken> tokens;
      for (const auto& [token, observer] : workspaceObservers_) {
        if (observer.event == app->event) tokens.push_back(token);
      }
      for (auto token : tokens) {
        // Looked up again: an earlier handler may have removed this one, or the desktop.
        if (!alive.lock()) return;
        auto it = workspaceObservers_.find(token);
        if (it == workspaceObservers_.end()) continue;
        auto handler = it->second.handler;  // the handler may remove itself
        handler(app->app);
      }
      continue;
    }
    const auto& focus = std::get<FocusNote>(note);
    const AXElement element = std::make_shared<X11Element>(X11Element::Kind::window, focus.pid,
                                                           focus.window, focus.serial);
    std::vector<std::uint64_t> ids;
    for (const auto& [id, entry] : axObservers_) {
      if (entry.pid == focus.pid && entry.notifications.count(ax::kFocusedWindowChanged)) {
        ids.push_back(id);
      }
    }
    for (auto id : ids) {
      if (!alive.lock()) return;
      auto it = axObservers_.find(id);
      if (it == axObservers_.end()) continue;
      auto callback = it->second.callback;  // the callback may drop its own observer
      callback(element);
    }
  }
}

// --- Lookups --------------------------------------------------------------------------------

const X11Desktop::Client* X11Desktop::findClient(xcb_window_t window) const {
  auto it = clients_.find(window);
  return it == clients_.end() ? nullptr : &it->second;
}

X11Desktop::App* X11Desktop::findApp(Pid pid) {
  return const_cast<App*>(std::as_const(*this).findApp(pid));
}

const X11Desktop::App* X11Desktop::findApp(Pid pid) const {
  auto it =
      std::find_if(apps_.begin(), apps_.end(), [pid](const App& app) { return app.pid == pid; });
  return it == apps_.end() ? nullptr : &*it;
}

bool X11Desktop::isManaged(std::optional<xcb_window_t> window) const {
  return window && clients_.count(*window);
}

AXElement X11Desktop::windowElement(xcb_window_t window) const {
  const Client& client = clients_.at(window);
  return std::make_shared<X11Element>(X11Element::Kind::window, client.pid, window, client.serial);
}

bool X11Desktop::isDesktopElement(const Client& client) const {
  return client.facts.effectiveType(atoms_) == atoms_.typeDesktop;
}

bool X11Desktop::isVisible(const Client& client) const {
  const auto& facts = client.facts;
  if (facts.hasState(atoms_.stateHidden)) return false;
  // A window manager that has not placed a window on a desktop yet shows it where the user is.
  const std::uint32_t desktop = facts.desktop.value_or(currentDesktop_);
  return desktop == kAllDesktops || desktop == currentDesktop_ ||
         facts.hasState(atoms_.stateSticky);
}

WindowInfo X11Desktop::infoOf(xcb_window_t window, const Client& client) const {
  const bool dock = client.facts.effectiveType(atoms_) == atoms_.typeDock;
  return WindowInfo{.number = window, .layer = dock ? kDockLayer : 0, .ownerPid = client.pid};
}

// --- Requests to the window manager ---------------------------------------------------------

xcb_timestamp_t X11Desktop::timestamp() const {
  // The key event that committed the switch, if the keys saw one; else the newest server time
  // we know of. CurrentTime only when we know none: focus-stealing prevention distrusts it.
  if (connection_.userTime() != XCB_CURRENT_TIME) return connection_.userTime();
  return latestServerTime_;
}

void X11Desktop::activateWindow(xcb_window_t window) {
  // Read now, not from the cache: the window may have moved since the last event was handled.
  PendingProperty desktop(xcb_, window, atoms_.wmDesktop);
  PendingProperty current(xcb_, connection_.root(), atoms_.currentDesktop);
  const auto on = desktop.take().first();
  const auto shown = current.take().first();
  const xcb_timestamp_t time = timestamp();
  if (on && shown && *on != kAllDesktops && *on != *shown) {
    // Switch first: some window managers would otherwise move the window to the current
    // desktop, or merely mark it urgent.
    sendRootMessage(connection_, connection_.root(), atoms_.currentDesktop, *on, time);
  }
  // The same message unminimizes: activating a hidden window shows it.
  sendRootMessage(connection_, window, atoms_.activeWindow, kSourcePager, time, active_);
}

// --- Workspace ------------------------------------------------------------------------------

std::vector<RunningApp> X11Desktop::runningApplications() const {
  std::vector<RunningApp> result;
  result.reserve(apps_.size());
  for (const auto& app : apps_) result.push_back(app.info);
  return result;
}

std::optional<RunningApp> X11Desktop::application(Pid pid) const {
  const App* app = findApp(pid);
  if (!app) return std::nullopt;
  return app->info;
}

std::optional<Pid> X11Desktop::frontmostPid() const {
  return frontmost_;
}

ObserverToken X11Desktop::addObserver(WorkspaceEvent event, AppHandler handler) {
  const ObserverToken token = nextWorkspaceToken_++;
  workspaceObservers_.emplace(token, WorkspaceObserver{event, std::move(handler)});
  return token;
}

void X11Desktop::unhide(Pid) {}

bool X11Desktop::activate(Pid pid, ActivationAnswer answer) {
  App* app = findApp(pid);
  if (!app || connectionLost()) {
    lastRaise_.reset();
    if (answer) answer(false);
    return false;
  }
  // A raise of one of its windows just asked for exactly this: picking a window here would
  // undo the user's choice.
  if (lastRaise_ && lastRaise_->sent && lastRaise_->pid == pid && isManaged(lastRaise_->window)) {
    watchActivation(pid, std::move(answer));
    return true;
  }
  std::optional<xcb_window_t> target;
  if (isManaged(app->main)) {
    target = app->main;
  } else if (isManaged(app->lastActive)) {
    target = app->lastActive;
  } else {
    for (auto it = stacking_.rbegin(); it != stacking_.rend() && !target; ++it) {
      if (const Client* client = findClient(*it); client && client->pid == pid) target = *it;
    }
    if (!target && !app->windows.empty()) target = app->windows.front();
  }
  if (!target) {
    lastRaise_.reset();
    if (answer) answer(false);
    return false;
  }
  activateWindow(*target);
  watchActivation(pid, std::move(answer));
  return true;
}

void X11Desktop::openApplication(const std::string& bundleLocation) {
  const auto entry = entries_.atPath(bundleLocation);
  if (!entry) return;
  if (const auto args = execArguments(*entry, entries_.localizedName(*entry))) {
    launchDetached(*args);
  }
}

bool X11Desktop::openURL(const std::string& url) {
  if (url.empty()) return false;
  // The desktop's own opener first; the browser alternatives only for web addresses.
  std::vector<std::vector<std::string>> openers{{"xdg-open", url}, {"gio", "open", url}};
  if (url.starts_with("http://") || url.starts_with("https://")) {
    openers.push_back({"x-www-browser", url});
    openers.push_back({"sensible-browser", url});
  }
  return std::any_of(openers.begin(), openers.end(),
                     [](const auto& command) { return launchDetached(command); });
}

std::optional<std::string> X11Desktop::iconPNG(const std::string& bundleID) const {
  const DesktopEntry* entry = entries_.byID(bundleID);
  if (!entry) return std::nullopt;
  return entries_.iconPNG(*entry);
}

std::vector<InstalledApplication> X11Desktop::installedApplications() {
  std::vector<InstalledApplication> apps;
  for (const DesktopEntry& entry : entries_.all()) {
    if (!entry.noDisplay) apps.push_back({entry.id, entries_.localizedName(entry)});
  }
  const auto folded = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::stable_sort(apps.begin(), apps.end(),
                   [&](const auto& a, const auto& b) { return folded(a.name) < folded(b.name); });
  return apps;
}

std::optional<std::string> X11Desktop::displayName(const std::string& bundleID) {
  const DesktopEntry* entry = entries_.byID(bundleID);
  if (!entry) return std::nullopt;
  return entries_.localizedName(*entry);
}

std::shared_ptr<const WindowIcon> X11Desktop::windowIcon(std::uint32_t window, int side) {
  if (connectionLost()) return nullptr;
  auto it = clients_.find(window);
  if (it == clients_.end() || it->second.destroyed) return nullptr;
  Client& client = it->second;
  const auto read = [&] {
    auto icon = readWindowIcon(xcb_, window, atoms_.wmIcon, side);
    return icon ? icon : readHintsIcon(xcb_, window);
  };
  // Only a followed window tells when its icon changes; any other is read each time.
  if (!client.followed) return read();
  auto cached = client.icons.find(side);
  if (cached == client.icons.end()) cached = client.icons.emplace(side, read()).first;
  return cached->second;
}

// --- Window server --------------------------------------------------------------------------

std::optional<std::vector<WindowInfo>> X11Desktop::onScreenWindows() {
  if (connectionLost()) return std::nullopt;
  std::vector<WindowInfo> list;
  for (auto it = stacking_.rbegin(); it != stacking_.rend(); ++it) {
    const Client* client = findClient(*it);
    if (client && !isDesktopElement(*client) && isVisible(*client)) {
      list.push_back(infoOf(*it, *client));
    }
  }
  return list;
}

std::optional<std::vector<WindowInfo>> X11Desktop::allWindows() {
  if (connectionLost()) return std::nullopt;
  std::vector<WindowInfo> list;
  std::unordered_set<xcb_window_t> listed;
  const auto add = [&](xcb_window_t window) {
    const Client* client = findClient(window);
    if (!client || isDesktopElement(*client) || !listed.insert(window).second) return;
    list.push_back(infoOf(window, *client));
  };
  std::for_each(stacking_.rbegin(), stacking_.rend(), add);
  std::for_each(clientOrder_.begin(), clientOrder_.end(), add);
  return list;
}

std::optional<std::int32_t> X11Desktop::mainConnectionID() {
  if (!trusted_ || connectionLost()) return std::nullopt;
  return kConnectionID;
}

std::optional<std::vector<std::uint64_t>> X11Desktop::copySpaces(std::int32_t connection, int) {
  if (connection != kConnectionID || !trusted_ || connectionLost()) return std::nullopt;
  std::vector<std::uint64_t> spaces;
  for (std::uint32_t desktop = 0; desktop < numberOfDesktops_; ++desktop) {
    spaces.push_back(std::uint64_t{desktop} + 1);
  }
  return spaces;
}

std::optional<std::vector<std::uint32_t>> X11Desktop::copyWindowsOnSpaces(
    std::int32_t connection, const std::vector<std::uint64_t>& spaces) {
  if (connection != kConnectionID || !trusted_ || connectionLost()) return std::nullopt;
  std::vector<std::uint32_t> numbers;
  for (auto window : clientOrder_) {
    const Client& client = clients_.at(window);
    if (isDesktopElement(client)) continue;
    const std::uint32_t desktop = client.facts.desktop.value_or(currentDesktop_);
    const bool everywhere = desktop == kAllDesktops || client.facts.hasState(atoms_.stateSticky);
    const bool onOne =
        std::find(spaces.begin(), spaces.end(), std::uint64_t{desktop} + 1) != spaces.end();
    if ((everywhere && !spaces.empty()) || (!everywhere && onOne)) numbers.push_back(window);
  }
  return numbers;
}

bool X11Desktop::isSecureInputEnabled() {
  return secureInputProbe_ && secureInputProbe_();
}

bool X11Desktop::processExists(Pid pid) {
  if (pid <= 0) return false;
  if (pid >= kSyntheticPidBase) return findApp(pid) != nullptr;
  return processAlive(pid);
}

}  // namespace tolvane::x11
