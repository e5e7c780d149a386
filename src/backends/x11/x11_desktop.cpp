// The X11 desktop's cache of the window manager's state, fed to the desktop model.
//
//   model                            | from the X server and an EWMH window manager
//   ---------------------------------+-------------------------------------------------------------
//   trusted                          | _NET_SUPPORTING_WM_CHECK names a window that names itself,
//                                    | and _NET_SUPPORTED lists _NET_CLIENT_LIST,
//                                    _NET_ACTIVE_WINDOW
//   windows, their order             | _NET_CLIENT_LIST (new ones read in batches and followed:
//                                    | PropertyNotify, ConfigureNotify, DestroyNotify)
//   applications, pids               | one per pid: _NET_WM_PID when local, alive and not ours;
//                                    | our own connection's windows ownPid; else the creating X
//                                    | client's synthetic pid; decided again on a new claim only
//   stale description                | a change of WM_CLASS, _GTK_APPLICATION_ID, the window type
//                                    | or state, WM_TRANSIENT_FOR, _NET_WM_DESKTOP or the claim
//   focus moved                      | PropertyNotify of _NET_ACTIVE_WINDOW naming another client
//                                    | (a None in between is no change)
//   description                      | the desktop entry of _GTK_APPLICATION_ID or WM_CLASS (its
//                                    | id, Name for the locale), else the WM_CLASS class; regular
//                                    | with a normal or dialog window not skip-taskbar
#include "backends/x11/x11_desktop.h"

#include "backends/x11/x11_window_icons.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <deque>
#include <span>
#include <unordered_map>
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
    : DesktopModel(loop, getpid(), std::move(options)),
      connection_(connection),
      xcb_(connection.xcb()),
      atoms_(connection),
      secureInputProbe_(std::move(secureInputProbe)),
      hostname_(hostName()),
      activation_(loop, [this] { return readActiveWindow(); }) {
  // Select first, then read: a change between the two arrives as an event, never goes missing.
  connection_.selectRootEvents(XCB_EVENT_MASK_PROPERTY_CHANGE);
  connection_.addSink(this);
  refreshTrust();
  dropNotes();  // what runs at start is not news
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
  deliverOrDefer();
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
  markStale(client.pid);  // its policy or name may change
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
  setTrusted(trusted);
  refreshDesktops();
  refreshClientList();
  refreshStacking();
  refreshActive();
}

void X11Desktop::refreshClientList() {
  std::vector<xcb_window_t> listed;
  if (trusted()) {
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
      Client client{.serial = nextSerial(),
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
  if (!trusted()) {
    stacking_.clear();
    return;
  }
  const Property list = readProperty(xcb_, connection_.root(), atoms_.clientListStacking);
  if (list.status != ReadStatus::noReply) stacking_ = list.values();
}

void X11Desktop::refreshActive() {
  xcb_window_t window = XCB_WINDOW_NONE;
  if (trusted()) {
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
  focusMoved(window, client->pid, client->serial);
}

void X11Desktop::refreshDesktops() {
  if (!trusted()) {
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
  std::vector<desktop::AppGroup> groups;
  std::unordered_map<Pid, std::size_t> groupOf;
  for (auto window : clientOrder_) {
    const Pid pid = clients_.at(window).pid;
    auto [it, fresh] = groupOf.try_emplace(pid, groups.size());
    if (fresh) groups.push_back({.key = {}, .pid = pid, .windows = {}});
    groups[it->second].windows.push_back(window);
  }
  DesktopModel::regroup(std::move(groups), [this](const desktop::AppGroup& group) {
    return describe(group.pid, group.windows);
  });
}

RunningApp X11Desktop::describe(Pid pid, const std::vector<desktop::WindowNumber>& windows) const {
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
  const system::DesktopEntry* entry = entries().byID(named->gtkApplicationID);
  if (!entry) entry = entries().byWMClass(named->instance, named->windowClass);
  if (entry) {
    info.bundleID = entry->id;
    info.localizedName = entries().localizedName(*entry);
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
  if (isOwnResource(window)) return ownPid();
  if (facts.claimedPid && *facts.claimedPid != static_cast<std::uint32_t>(ownPid())) {
    const auto claimed = *facts.claimedPid;
    const bool plausible = claimed > 0 && claimed < static_cast<std::uint32_t>(kSyntheticPidBase);
    const bool local = !facts.machine || sameHost(*facts.machine, hostname_);
    if (plausible && local && processRuns(static_cast<Pid>(claimed))) {
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
  return desktop::syntheticPidAt(client);
}

bool X11Desktop::isOwnResource(xcb_window_t window) const {
  const xcb_setup_t* setup = xcb_get_setup(xcb_);
  return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

// --- Lookups --------------------------------------------------------------------------------

const X11Desktop::Client* X11Desktop::findClient(xcb_window_t window) const {
  auto it = clients_.find(window);
  return it == clients_.end() ? nullptr : &it->second;
}

bool X11Desktop::isManaged(std::optional<desktop::WindowNumber> window) const {
  return window && clients_.count(static_cast<xcb_window_t>(*window));
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

}  // namespace tolvane::x11
