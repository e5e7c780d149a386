// The session bus through sd-bus.
//
//   Tolvane                     | GNOME Shell
//   ----------------------------+----------------------------------------------------------------
//   asks the extension          | org.gnome.Shell kShellPath kShellInterface: Register, Windows,
//                               | Monitors, Activate, Close, SetMinimized, Bind, Grab, Release,
//                               | ShowPanel, HidePanel, SetMenu
//   is told by the extension    | kTolvanePath kTolvaneInterface on Tolvane's unique name: Ping,
//                               | Triggered, Key, GrabEnded, WindowChanged, WindowClosed,
//                               | MonitorsChanged, Clicked, PanelShown, MenuActivated, MenuOpening,
//                               | MenuClosed; only
//                               | calls from the Shell's own connection are heard
//   the extension's state       | org.gnome.Shell.Extensions GetExtensionInfo, EnableExtension,
//                               | signal ExtensionStateChanged
//   the Shell coming and going  | org.freedesktop.DBus NameOwnerChanged for org.gnome.Shell
#include "backends/gnome/shell_bus.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "backends/system/bus_connection.h"

namespace tolvane::gnome {

namespace {

constexpr const char* kShell = "org.gnome.Shell";
constexpr const char* kShellPath = "/com/brenmoor/Tolvane/Shell";
constexpr const char* kShellInterface = "com.brenmoor.Tolvane.Shell1";
constexpr const char* kTolvanePath = "/com/brenmoor/Tolvane/Desktop";
constexpr const char* kTolvaneInterface = "com.brenmoor.Tolvane.Desktop1";
constexpr const char* kExtensions = "org.gnome.Shell.Extensions";
constexpr int kEnabled = 1;
// What is taken from the Shell is bounded before use.
constexpr std::size_t kMaxTitleBytes = 4096, kMaxNameBytes = 512, kMaxWordBytes = 32,
                      kMaxTextBytes = 64, kMaxWindows = 10000, kMaxMonitors = 64;

using Call = system::BusCall;

/// `text` cut to at most `max` bytes without splitting a character (the bus guarantees UTF-8).
std::string bounded(const char* text, std::size_t max) {
  std::string_view view = text ? text : "";
  if (view.size() <= max) return std::string(view);
  std::size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(view[end]) & 0xC0) == 0x80) --end;
  return std::string(view.substr(0, end));
}

int readWindow(sd_bus_message* m, ShellWindow& window) {
  const char *title = nullptr, *wmClass = nullptr, *appId = nullptr;
  int minimized = 0, skip = 0, focused = 0;
  const int result =
      sd_bus_message_read(m, "(tsssiibbbi)", &window.id, &title, &wmClass, &appId, &window.pid,
                          &window.workspace, &minimized, &skip, &focused, &window.monitor);
  if (result <= 0) return result;  // 0: the array has ended
  window.title = bounded(title, kMaxTitleBytes);
  window.wmClass = bounded(wmClass, kMaxNameBytes);
  window.appId = bounded(appId, kMaxNameBytes);
  window.minimized = minimized;
  window.skipTaskbar = skip;
  window.focused = focused;
  if (window.pid < 0) window.pid = 0;
  if (window.workspace < -1) window.workspace = -1;
  if (window.monitor < 0 || window.monitor >= static_cast<int>(kMaxMonitors)) window.monitor = 0;
  return 1;
}

ShellBus& self(void* data) {
  return *static_cast<ShellBus*>(data);
}

}  // namespace

struct ShellBus::State {
  std::unique_ptr<system::BusConnection> connection;
  sd_bus* bus = nullptr;
  sd_bus_slot* object = nullptr;
  sd_bus_slot* owner = nullptr;
  sd_bus_slot* extension = nullptr;
  ~State() {
    sd_bus_slot_unref(object);
    sd_bus_slot_unref(owner);
    sd_bus_slot_unref(extension);
  }
  /// A call to the extension that returns nothing worth waiting for; its failure is ignored
  /// (the panel and the grab have their own ways out on the Shell's side).
  void sendAsync(sd_bus_message* request) {
    sd_bus_call_async(bus, nullptr, request, nullptr, nullptr,
                      static_cast<std::uint64_t>(kCallTimeoutSeconds * 1e6));
    sd_bus_message_unref(request);
  }
  sd_bus_message* request(const char* member) {
    sd_bus_message* m = nullptr;
    if (sd_bus_message_new_method_call(bus, &m, kShell, kShellPath, kShellInterface, member) < 0)
      return nullptr;
    return m;
  }
};

std::unique_ptr<ShellBus> ShellBus::connect(std::string& error) {
  auto state = std::make_unique<State>();
  state->connection = system::BusConnection::open(kCallTimeoutSeconds, error);
  if (!state->connection) return nullptr;
  state->bus = state->connection->get();
  std::unique_ptr<ShellBus> bus(new ShellBus(std::move(state)));
  bus->uniqueName_ = bus->state_->connection->uniqueName();
  return bus;
}

ShellBus::ShellBus(std::unique_ptr<State> state) : state_(std::move(state)) {}

ShellBus::~ShellBus() = default;

int ShellBus::fd() const {
  return state_->connection->fd();
}

bool ShellBus::process() {
  return state_->connection->process();
}

bool ShellBus::fromShell(const char* sender) const {
  return sender && !shellOwner_.empty() && shellOwner_ == sender;
}

// Every method answers at once: the extension never waits on Tolvane, but it counts a call left
// unanswered as Tolvane being stopped.
#define TOLVANE_FROM_SHELL(m, data)                                                    \
  if (!self(data).fromShell(sd_bus_message_get_sender(m)))                             \
    return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_ACCESS_DENIED, "not the Shell"); \
  auto& on = self(data).handlers_

bool ShellBus::serve(Handlers handlers) {
  handlers_ = std::move(handlers);
  static const auto ping = [](sd_bus_message* m, void*, sd_bus_error*) -> int {
    return sd_bus_reply_method_return(m, "");
  };
  static const auto triggered = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    const char* word = nullptr;
    std::uint32_t serial = 0, modifiers = 0;
    std::int64_t sent = 0;
    if (sd_bus_message_read(m, "suux", &word, &serial, &modifiers, &sent) < 0) return -EINVAL;
    if (std::strlen(word) <= kMaxWordBytes && on.triggered)
      on.triggered(word, serial, modifiers, sent);
    return sd_bus_reply_method_return(m, "");
  };
  static const auto key = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    ShellKey key;
    const char* text = nullptr;
    int pressed = 0;
    if (sd_bus_message_read(m, "uubsuuux", &key.serial, &key.keysym, &pressed, &text,
                            &key.baseKeysym, &key.keycode, &key.modifiers, &key.sentMicros) < 0)
      return -EINVAL;
    key.pressed = pressed;
    key.text = bounded(text, kMaxTextBytes);
    if (on.key) on.key(key);
    return sd_bus_reply_method_return(m, "");
  };
  static const auto grabEnded = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    std::uint32_t serial = 0;
    const char* why = nullptr;
    if (sd_bus_message_read(m, "us", &serial, &why) < 0) return -EINVAL;
    if (on.grabEnded) on.grabEnded(serial, bounded(why, kMaxWordBytes));
    return sd_bus_reply_method_return(m, "");
  };
  static const auto windowChanged = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    ShellWindow window;
    if (readWindow(m, window) <= 0) return -EINVAL;
    if (on.windowChanged) on.windowChanged(window);
    return sd_bus_reply_method_return(m, "");
  };
  static const auto windowClosed = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    std::uint64_t id = 0;
    if (sd_bus_message_read(m, "t", &id) < 0) return -EINVAL;
    if (on.windowClosed) on.windowClosed(id);
    return sd_bus_reply_method_return(m, "");
  };
  static const auto monitorsChanged = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    if (on.monitorsChanged) on.monitorsChanged();
    return sd_bus_reply_method_return(m, "");
  };
  static const auto clicked = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    double x = 0, y = 0;
    if (sd_bus_message_read(m, "dd", &x, &y) < 0) return -EINVAL;
    if (std::isfinite(x) && std::isfinite(y) && on.clicked) on.clicked(x, y);
    return sd_bus_reply_method_return(m, "");
  };
  static const auto menuActivated = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    const char* id = nullptr;
    if (sd_bus_message_read(m, "s", &id) < 0) return -EINVAL;
    if (on.menuActivated) on.menuActivated(bounded(id, kMaxWordBytes));
    return sd_bus_reply_method_return(m, "");
  };
  static const auto menuOpening = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    if (on.menuOpening) on.menuOpening();
    return sd_bus_reply_method_return(m, "");
  };
  static const auto panelShown = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    if (on.panelShown) on.panelShown();
    return sd_bus_reply_method_return(m, "");
  };
  static const auto menuClosed = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    TOLVANE_FROM_SHELL(m, data);
    if (on.menuClosed) on.menuClosed();
    return sd_bus_reply_method_return(m, "");
  };
  static const sd_bus_vtable vtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Ping", "", "", +ping, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Triggered", "suux", "", +triggered, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Key", "uubsuuux", "", +key, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("GrabEnded", "us", "", +grabEnded, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("WindowChanged", "(tsssiibbbi)", "", +windowChanged,
                    SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("WindowClosed", "t", "", +windowClosed, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("MonitorsChanged", "", "", +monitorsChanged, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Clicked", "dd", "", +clicked, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("PanelShown", "", "", +panelShown, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("MenuActivated", "s", "", +menuActivated, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("MenuOpening", "", "", +menuOpening, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("MenuClosed", "", "", +menuClosed, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };
  sd_bus_slot_unref(std::exchange(state_->object, nullptr));
  if (sd_bus_add_object_vtable(state_->bus, &state_->object, kTolvanePath, kTolvaneInterface,
                               vtable, this) < 0)
    return false;
  followShell();
  return true;
}

#undef TOLVANE_FROM_SHELL

void ShellBus::followShell() {
  static const auto ownerChanged = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0 || !name ||
        std::strcmp(name, kShell) != 0)
      return 0;
    auto& bus = self(data);
    const bool gone = !bus.shellOwner_.empty();
    bus.shellOwner_ = after ? after : "";
    // A new Shell's extension says it is enabled once the Shell has loaded it.
    if (gone && bus.handlers_.presence) bus.handlers_.presence(false);
    return 0;
  };
  static const auto stateChanged = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    auto& bus = self(data);
    const char* uuid = nullptr;
    if (!bus.fromShell(sd_bus_message_get_sender(m)) || sd_bus_message_read(m, "s", &uuid) < 0 ||
        !uuid || kExtensionUuid != uuid)
      return 0;
    double state = 0;
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") < 0) return 0;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
      const char* key = nullptr;
      if (sd_bus_message_read(m, "s", &key) < 0) return 0;
      if (key && std::strcmp(key, "state") == 0) {
        if (sd_bus_message_read(m, "v", "d", &state) < 0) return 0;
      } else if (sd_bus_message_skip(m, "v") < 0) {
        return 0;
      }
      if (sd_bus_message_exit_container(m) < 0) return 0;
    }
    if (bus.handlers_.presence) bus.handlers_.presence(static_cast<int>(state) == kEnabled);
    return 0;
  };
  sd_bus_slot_unref(std::exchange(state_->owner, nullptr));
  sd_bus_slot_unref(std::exchange(state_->extension, nullptr));
  sd_bus_add_match(state_->bus, &state_->owner,
                   "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                   "arg0='org.gnome.Shell'",
                   +ownerChanged, this);
  sd_bus_add_match(state_->bus, &state_->extension,
                   "type='signal',interface='org.gnome.Shell.Extensions',"
                   "member='ExtensionStateChanged',arg0='tolvane@brenmoor.com'",
                   +stateChanged, this);
  Call call;
  const char* owner = nullptr;
  if (sd_bus_call_method(state_->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "GetNameOwner", &call.error, &call.reply, "s",
                         kShell) >= 0 &&
      sd_bus_message_read(call.reply, "s", &owner) > 0 && owner) {
    shellOwner_ = owner;
  }
}

std::optional<int> ShellBus::extensionState(std::string* error) {
  Call call;
  const std::string uuid(kExtensionUuid);
  if (sd_bus_call_method(state_->bus, kShell, "/org/gnome/Shell", kExtensions, "GetExtensionInfo",
                         &call.error, &call.reply, "s", uuid.c_str()) < 0 ||
      sd_bus_message_enter_container(call.reply, SD_BUS_TYPE_ARRAY, "{sv}") < 0)
    return std::nullopt;
  std::optional<int> state;
  while (sd_bus_message_enter_container(call.reply, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read(call.reply, "s", &key) < 0 || !key) return std::nullopt;
    double number = 0;
    const char* text = nullptr;
    if (std::strcmp(key, "state") == 0 && sd_bus_message_read(call.reply, "v", "d", &number) > 0) {
      state = static_cast<int>(number);
    } else if (std::strcmp(key, "error") == 0 &&
               sd_bus_message_read(call.reply, "v", "s", &text) > 0) {
      if (error) *error = bounded(text, kMaxNameBytes);
    } else if (sd_bus_message_skip(call.reply, "v") < 0) {
      return std::nullopt;
    }
    if (sd_bus_message_exit_container(call.reply) < 0) return std::nullopt;
  }
  return state;
}

bool ShellBus::enableExtension() {
  Call call;
  const std::string uuid(kExtensionUuid);
  int enabled = 0;
  return sd_bus_call_method(state_->bus, kShell, "/org/gnome/Shell", kExtensions, "EnableExtension",
                            &call.error, &call.reply, "s", uuid.c_str()) >= 0 &&
         sd_bus_message_read(call.reply, "b", &enabled) > 0 && enabled;
}

bool ShellBus::awaitEnabled(double seconds) {
  constexpr int kEnabledState = 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    if (extensionState() == kEnabledState) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    // Woken by whatever reaches the socket (the state's own signal among it); the call above
    // reads it into the queue, where it waits for the next process().
    pollfd readable{fd(), POLLIN, 0};
    ::poll(&readable, 1, static_cast<int>(std::min<long>(left.count(), 100)));
  }
}

bool ShellBus::registerWithExtension() {
  Call call;
  return sd_bus_call_method(state_->bus, kShell, kShellPath, kShellInterface, "Register",
                            &call.error, &call.reply, "") >= 0;
}

std::optional<std::vector<ShellWindow>> ShellBus::windows() {
  Call call;
  if (sd_bus_call_method(state_->bus, kShell, kShellPath, kShellInterface, "Windows", &call.error,
                         &call.reply, "") < 0 ||
      sd_bus_message_enter_container(call.reply, SD_BUS_TYPE_ARRAY, "(tsssiibbbi)") < 0)
    return std::nullopt;
  std::vector<ShellWindow> windows;
  ShellWindow window;
  int result = 0;
  while (windows.size() < kMaxWindows && (result = readWindow(call.reply, window)) > 0) {
    windows.push_back(window);
  }
  if (result < 0) return std::nullopt;
  return windows;
}

std::optional<std::vector<ShellMonitor>> ShellBus::monitors() {
  Call call;
  if (sd_bus_call_method(state_->bus, kShell, kShellPath, kShellInterface, "Monitors", &call.error,
                         &call.reply, "") < 0 ||
      sd_bus_message_enter_container(call.reply, SD_BUS_TYPE_ARRAY, "(iiiid)") < 0)
    return std::nullopt;
  std::vector<ShellMonitor> monitors;
  ShellMonitor monitor;
  double scale = 1;
  while (monitors.size() < kMaxMonitors &&
         sd_bus_message_read(call.reply, "(iiiid)", &monitor.x, &monitor.y, &monitor.width,
                             &monitor.height, &scale) > 0) {
    monitor.scale =
        std::isfinite(scale) && scale >= 1 && scale <= 4 ? static_cast<int>(std::ceil(scale)) : 1;
    if (monitor.width > 0 && monitor.height > 0) monitors.push_back(monitor);
  }
  return monitors;
}

namespace {

bool answeredTrue(sd_bus* bus, const char* member, const char* types, std::uint64_t id,
                  int flag = -1) {
  Call call;
  const int result = flag < 0 ? sd_bus_call_method(bus, kShell, kShellPath, kShellInterface, member,
                                                   &call.error, &call.reply, types, id)
                              : sd_bus_call_method(bus, kShell, kShellPath, kShellInterface, member,
                                                   &call.error, &call.reply, types, id, flag);
  int done = 0;
  return result >= 0 && sd_bus_message_read(call.reply, "b", &done) > 0 && done;
}

}  // namespace

bool ShellBus::activate(std::uint64_t id) {
  return answeredTrue(state_->bus, "Activate", "t", id);
}

bool ShellBus::close(std::uint64_t id) {
  return answeredTrue(state_->bus, "Close", "t", id);
}

bool ShellBus::setMinimized(std::uint64_t id, bool minimized) {
  return answeredTrue(state_->bus, "SetMinimized", "tb", id, minimized ? 1 : 0);
}

std::optional<std::vector<std::string>> ShellBus::bind(
    const std::vector<std::pair<std::string, std::string>>& bindings) {
  sd_bus_message* request = state_->request("Bind");
  if (!request) return std::nullopt;
  int result = sd_bus_message_open_container(request, SD_BUS_TYPE_ARRAY, "(ss)");
  for (const auto& [accelerator, word] : bindings) {
    if (result >= 0)
      result = sd_bus_message_append(request, "(ss)", accelerator.c_str(), word.c_str());
  }
  if (result >= 0) result = sd_bus_message_close_container(request);
  Call call;
  if (result >= 0) result = sd_bus_call(state_->bus, request, 0, &call.error, &call.reply);
  sd_bus_message_unref(request);
  if (result < 0) return std::nullopt;
  char** refused = nullptr;
  if (sd_bus_message_read_strv(call.reply, &refused) < 0) return std::nullopt;
  std::vector<std::string> list;
  for (char** each = refused; each && *each; ++each) {
    list.push_back(bounded(*each, kMaxNameBytes));
    std::free(*each);
  }
  std::free(refused);
  return list;
}

void ShellBus::grab(
    std::function<void(std::optional<std::pair<std::uint32_t, std::uint32_t>>)> done) {
  using Done = std::function<void(std::optional<std::pair<std::uint32_t, std::uint32_t>>)>;
  sd_bus_message* request = state_->request("Grab");
  auto* owned = new Done(std::move(done));
  static const auto answered = [](sd_bus_message* reply, void* data, sd_bus_error*) -> int {
    std::unique_ptr<Done> done(static_cast<Done*>(data));
    std::uint32_t serial = 0, modifiers = 0;
    if (sd_bus_message_is_method_error(reply, nullptr) ||
        sd_bus_message_read(reply, "uu", &serial, &modifiers) <= 0 || serial == 0) {
      (*done)(std::nullopt);
    } else {
      (*done)(std::pair{serial, modifiers});
    }
    return 0;
  };
  // The slot is floating: the callback runs once, with the answer or the timeout's error.
  if (!request || sd_bus_call_async(state_->bus, nullptr, request, +answered, owned,
                                    static_cast<std::uint64_t>(kCallTimeoutSeconds * 1e6)) < 0) {
    std::unique_ptr<Done> failed(owned);
    (*failed)(std::nullopt);
  }
  sd_bus_message_unref(request);
}

void ShellBus::release(std::string_view why) {
  sd_bus_message* request = state_->request("Release");
  if (!request) return;
  sd_bus_message_append(request, "s", std::string(why).c_str());
  state_->sendAsync(request);
}

void ShellBus::showPanel(int monitor, PanelRect bounds, int scale, const std::uint32_t* pixels,
                         PanelRect input) {
  sd_bus_message* request = state_->request("ShowPanel");
  if (!request) return;
  const std::size_t bytes = static_cast<std::size_t>(bounds.width) * scale * bounds.height * scale *
                            sizeof(std::uint32_t);
  if (sd_bus_message_append(request, "i(iiii)i", monitor, bounds.x, bounds.y, bounds.width,
                            bounds.height, scale) < 0 ||
      sd_bus_message_append_array(request, 'y', pixels, bytes) < 0 ||
      sd_bus_message_append(request, "(iiii)", input.x, input.y, input.width, input.height) < 0) {
    sd_bus_message_unref(request);
    return;
  }
  state_->sendAsync(request);
}

void ShellBus::hidePanel() {
  if (sd_bus_message* request = state_->request("HidePanel")) state_->sendAsync(request);
}

void ShellBus::setMenu(const std::string& json) {
  sd_bus_message* request = state_->request("SetMenu");
  if (!request) return;
  sd_bus_message_append(request, "s", json.c_str());
  state_->sendAsync(request);
}

}  // namespace tolvane::gnome
