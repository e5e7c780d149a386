// The watcher's object on the session bus (sd-bus), and a host's calls to the items.
#include "desktops/sway/support/status_notifier_watcher.h"

#include <chrono>
#include <cstdint>

#include "desktops/driver/session_bus.h"

namespace tolvane::test {

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
/// How long an item may take to answer: generous, because the machine may be loaded.
constexpr std::chrono::milliseconds kBound{20000};
/// A menu nested or filled beyond these is no tray menu: reading stops there.
constexpr int kMaxDepth = 8;
constexpr std::size_t kMaxEntries = 256;
/// Registrations past this many are refused: an item registering in a loop is a fault to see.
constexpr std::size_t kMaxItems = 64;

// The bar is the host: one is always registered.
int hostRegistered(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                   sd_bus_error*) {
  return sd_bus_message_append(reply, "b", 1);
}

int protocolVersion(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                    sd_bus_error*) {
  return sd_bus_message_append(reply, "i", 0);
}

/// Appends the labels of the dbusmenu node (ia{sv}av) the message is at and of the nodes below
/// it, depth first; separators have none, nor has the root. False when it is malformed or
/// beyond the bounds.
bool readNode(sd_bus_message* m, int depth, std::vector<std::string>& labels) {
  if (depth > kMaxDepth || sd_bus_message_enter_container(m, 'r', "ia{sv}av") <= 0) return false;
  std::int32_t id = 0;
  if (sd_bus_message_read(m, "i", &id) < 0 || sd_bus_message_enter_container(m, 'a', "{sv}") < 0)
    return false;
  std::string label, type;
  while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
    const char* key = nullptr;
    char kind = 0;
    const char* contents = nullptr;
    if (sd_bus_message_read(m, "s", &key) < 0 || sd_bus_message_peek_type(m, &kind, &contents) < 0)
      return false;
    const std::string name = key;
    const char* value = nullptr;
    if ((name == "label" || name == "type") && contents && std::string(contents) == "s") {
      if (sd_bus_message_read(m, "v", "s", &value) < 0) return false;
      (name == "label" ? label : type) = value;
    } else if (sd_bus_message_skip(m, "v") < 0) {
      return false;
    }
    if (sd_bus_message_exit_container(m) < 0) return false;
  }
  if (sd_bus_message_exit_container(m) < 0) return false;
  if (depth > 0 && type != "separator") labels.push_back(label);
  if (labels.size() > kMaxEntries || sd_bus_message_enter_container(m, 'a', "v") < 0) return false;
  for (int r; (r = sd_bus_message_enter_container(m, 'v', "(ia{sv}av)")) != 0;) {
    if (r < 0 || !readNode(m, depth + 1, labels) || sd_bus_message_exit_container(m) < 0)
      return false;
  }
  return sd_bus_message_exit_container(m) >= 0 && sd_bus_message_exit_container(m) >= 0;
}

}  // namespace

int StatusNotifierWatcher::registerItem(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& state = *static_cast<StatusNotifierWatcher*>(data);
  const char* name = nullptr;
  if (const int r = sd_bus_message_read(message, "s", &name); r < 0) return r;
  if (state.items_.size() >= kMaxItems) {
    return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_LIMITS_EXCEEDED, "too many items");
  }
  const std::string said = name;
  // An item names its bus name, or only its object and is then the sender.
  const char* sender = sd_bus_message_get_sender(message);
  auto item = said.starts_with('/') ? Item{sender ? sender : "", said} : Item{said, kItemPath};
  state.items_.push_back(item);
  sd_bus_emit_signal(state.bus_, kWatcherPath, kWatcher, "StatusNotifierItemRegistered", "s",
                     (item.service + item.path).c_str());
  sd_bus_emit_properties_changed(state.bus_, kWatcherPath, kWatcher,
                                 "RegisteredStatusNotifierItems", nullptr);
  return sd_bus_reply_method_return(message, "");
}

int StatusNotifierWatcher::registerHost(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& state = *static_cast<StatusNotifierWatcher*>(data);
  sd_bus_emit_signal(state.bus_, kWatcherPath, kWatcher, "StatusNotifierHostRegistered", "");
  return sd_bus_reply_method_return(message, "");
}

int StatusNotifierWatcher::registeredItems(sd_bus*, const char*, const char*, const char*,
                                           sd_bus_message* reply, void* data, sd_bus_error*) {
  auto& state = *static_cast<StatusNotifierWatcher*>(data);
  if (const int r = sd_bus_message_open_container(reply, 'a', "s"); r < 0) return r;
  for (const auto& item : state.items_) {
    if (const int r = sd_bus_message_append(reply, "s", (item.service + item.path).c_str()); r < 0)
      return r;
  }
  return sd_bus_message_close_container(reply);
}

const sd_bus_vtable StatusNotifierWatcher::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", registerItem, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("RegisterStatusNotifierHost", "s", "", registerHost, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("RegisteredStatusNotifierItems", "as", registeredItems, 0,
                    SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("IsStatusNotifierHostRegistered", "b", hostRegistered, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ProtocolVersion", "i", protocolVersion, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_SIGNAL("StatusNotifierItemRegistered", "s", 0),
    SD_BUS_SIGNAL("StatusNotifierItemUnregistered", "s", 0),
    SD_BUS_SIGNAL("StatusNotifierHostRegistered", "", 0),
    SD_BUS_SIGNAL("StatusNotifierHostUnregistered", "", 0),
    SD_BUS_VTABLE_END};

Message StatusNotifierWatcher::call(sd_bus_message* message, const std::vector<Source>& also) {
  struct Pending {
    Message reply;
  } pending;
  const auto replied = [](sd_bus_message* reply, void* data, sd_bus_error*) {
    static_cast<Pending*>(data)->reply.reset(sd_bus_message_ref(reply));
    return 0;
  };
  sd_bus_slot* slot = nullptr;
  const char* member = sd_bus_message_get_member(message);
  const std::string what = member ? member : "a call";
  const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(kBound).count();
  if (sd_bus_call_async(bus_, &slot, message, replied, &pending, static_cast<uint64_t>(usec)) < 0) {
    error_ = what + " could not be sent";
    return nullptr;
  }
  std::vector<Source> sources{source()};
  sources.insert(sources.end(), also.begin(), also.end());
  waitOn([&] { return pending.reply != nullptr; }, sources, kBound + std::chrono::seconds(1));
  // Unanswered, the call is cancelled with its slot.
  sd_bus_slot_unref(slot);
  if (!pending.reply) {
    error_ = "no reply to " + what;
  } else if (const sd_bus_error* failure = sd_bus_message_get_error(pending.reply.get())) {
    error_ = what + ": " + (failure->message ? failure->message : failure->name);
    return nullptr;
  }
  return std::move(pending.reply);
}

Message StatusNotifierWatcher::newCall(const Item& item, const char* path, const char* interface,
                                       const char* member) {
  sd_bus_message* message = nullptr;
  if (sd_bus_message_new_method_call(bus_, &message, item.service.c_str(), path, interface,
                                     member) < 0) {
    error_ = std::string("no call ") + member + " to " + item.service;
  }
  return Message(message);
}

StatusNotifierWatcher::StatusNotifierWatcher() {
  if (sd_bus_open_user(&bus_) < 0) {
    error_ = "no session bus (tests run inside dbus-run-session)";
    return;
  }
  if (sd_bus_add_object_vtable(bus_, &object_, kWatcherPath, kWatcher, kVtable, this) < 0 ||
      sd_bus_request_name(bus_, kWatcher, 0) < 0) {
    error_ = std::string("could not own ") + kWatcher;
  }
}

StatusNotifierWatcher::~StatusNotifierWatcher() {
  sd_bus_slot_unref(stall_);
  sd_bus_slot_unref(object_);
  sd_bus_flush_close_unref(bus_);
}

Source StatusNotifierWatcher::source() {
  return {sd_bus_get_fd(bus_), [this] {
            int r;
            while ((r = sd_bus_process(bus_, nullptr)) > 0) {
            }
            return r >= 0;
          }};
}

std::optional<std::vector<std::string>> StatusNotifierWatcher::menuLabels(
    const Item& item, const std::vector<Source>& also) {
  // The item says where its menu is.
  Message get = newCall(item, item.path.c_str(), "org.freedesktop.DBus.Properties", "Get");
  if (!get || sd_bus_message_append(get.get(), "ss", kItemInterface, "Menu") < 0) return {};
  const Message where = call(get.get(), also);
  const char* menu = nullptr;
  if (!where || sd_bus_message_read(where.get(), "v", "o", &menu) < 0) {
    if (error_.empty()) error_ = "the item's Menu is no object path";
    return {};
  }
  const std::string path = menu;
  Message show = newCall(item, path.c_str(), kMenuInterface, "AboutToShow");
  if (!show || sd_bus_message_append(show.get(), "i", 0) < 0 || !call(show.get(), also)) return {};
  Message layout = newCall(item, path.c_str(), kMenuInterface, "GetLayout");
  if (!layout || sd_bus_message_append(layout.get(), "iias", 0, -1, 0) < 0) return {};
  const Message reply = call(layout.get(), also);
  std::uint32_t revision = 0;
  std::vector<std::string> labels;
  if (!reply) return {};
  if (sd_bus_message_read(reply.get(), "u", &revision) < 0 || !readNode(reply.get(), 0, labels)) {
    error_ = "GetLayout's reply is no menu";
    return {};
  }
  return labels;
}

void StatusNotifierWatcher::stall() {
  // Taken before any object sees it, a call is dropped: its caller waits for its own timeout.
  const auto drop = [](sd_bus_message* message, void*, sd_bus_error*) {
    return sd_bus_message_is_method_call(message, nullptr, nullptr) > 0 ? 1 : 0;
  };
  if (!stall_) sd_bus_add_filter(bus_, &stall_, drop, nullptr);
}

bool StatusNotifierWatcher::activate(const Item& item, const std::vector<Source>& also) {
  Message click = newCall(item, item.path.c_str(), kItemInterface, "Activate");
  return click && sd_bus_message_append(click.get(), "ii", 0, 0) >= 0 &&
         call(click.get(), also) != nullptr;
}

}  // namespace tolvane::test
