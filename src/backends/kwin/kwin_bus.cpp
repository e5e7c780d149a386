// The session bus through sd-bus.
//
//   Tolvane                     | KWin
//   ----------------------------+----------------------------------------------------------------
//   load the script             | org.kde.KWin /Scripting org.kde.kwin.Scripting.loadScript(ss)
//                               | → its id, then org.kde.kwin.Script.run on /Scripting/Script<id>
//                               | (KWin 6) or /<id> (5.27)
//   unload it                   | org.kde.kwin.Scripting.unloadScript(s)
//   who holds a key             | org.kde.kglobalaccel /kglobalaccel
//                               | org.kde.KGlobalAccel.getGlobalShortcutsByKey(i): the action
//                               | names, the second of each record
//   forget a shortcut           | org.kde.KGlobalAccel.unregister("kwin", action)
//   the script's calls          | kTriggerPath kTriggerInterface Trigger(s), Heartbeat() → b
#include "backends/kwin/kwin_bus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "backends/system/bus_connection.h"

namespace tolvane::kwin {

namespace {

constexpr const char* kKWin = "org.kde.KWin";
constexpr const char* kScripting = "org.kde.kwin.Scripting";
constexpr const char* kGlobalAccel = "org.kde.kglobalaccel";
/// Trigger words are short; anything longer is no trigger of ours.
constexpr std::size_t kMaxWordBytes = 32;

using Call = system::BusCall;

}  // namespace

struct KWinBus::State {
  std::unique_ptr<system::BusConnection> connection;
  sd_bus* bus = nullptr;
  sd_bus_slot* object = nullptr;
  ~State() { sd_bus_slot_unref(object); }
};

std::unique_ptr<KWinBus> KWinBus::connect(std::string& error) {
  auto state = std::make_unique<State>();
  state->connection = system::BusConnection::open(kCallTimeoutSeconds, error);
  if (!state->connection) return nullptr;
  state->bus = state->connection->get();
  std::unique_ptr<KWinBus> bus(new KWinBus(std::move(state)));
  bus->uniqueName_ = bus->state_->connection->uniqueName();
  return bus;
}

KWinBus::KWinBus(std::unique_ptr<State> state) : state_(std::move(state)) {}

KWinBus::~KWinBus() = default;

int KWinBus::fd() const {
  return state_->connection->fd();
}

bool KWinBus::process() {
  return state_->connection->process();
}

bool KWinBus::serve(Handlers handlers) {
  handlers_ = std::move(handlers);
  static const auto trigger = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    const char* word = nullptr;
    if (sd_bus_message_read(m, "s", &word) < 0 || !word) return -EINVAL;
    auto& handlers = static_cast<KWinBus*>(data)->handlers_;
    if (std::strlen(word) <= kMaxWordBytes && handlers.trigger) handlers.trigger(word);
    return sd_bus_reply_method_return(m, "");
  };
  static const auto heartbeat = [](sd_bus_message* m, void* data, sd_bus_error*) -> int {
    auto& handlers = static_cast<KWinBus*>(data)->handlers_;
    return sd_bus_reply_method_return(m, "b", handlers.heartbeat && handlers.heartbeat() ? 1 : 0);
  };
  static const sd_bus_vtable vtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Trigger", "s", "", +trigger, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Heartbeat", "", "b", +heartbeat, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };
  sd_bus_slot_unref(std::exchange(state_->object, nullptr));
  const std::string path(kTriggerPath), interface(kTriggerInterface);
  return sd_bus_add_object_vtable(state_->bus, &state_->object, path.c_str(), interface.c_str(),
                                  vtable, this) >= 0;
}

bool KWinBus::kwinAnswers() {
  Call call;
  return sd_bus_call_method(state_->bus, kKWin, "/Scripting", "org.freedesktop.DBus.Peer", "Ping",
                            &call.error, &call.reply, "") >= 0;
}

bool KWinBus::loadScript(const std::string& path, const std::string& name, std::string& error) {
  Call call;
  sd_bus_message* request = nullptr;
  int result = sd_bus_message_new_method_call(state_->bus, &request, kKWin, "/Scripting",
                                              kScripting, "loadScript");
  if (result >= 0) result = sd_bus_message_append(request, "ss", path.c_str(), name.c_str());
  if (result >= 0) {
    result = sd_bus_call(state_->bus, request, 0, &call.error, &call.reply);
  }
  sd_bus_message_unref(request);
  std::int32_t id = -1;
  if (result >= 0) result = sd_bus_message_read(call.reply, "i", &id);
  if (result < 0) {
    error = "KWin did not load the script: " + call.what(result);
    return false;
  }
  if (id < 0) {
    error = "KWin refused the script " + path;
    return false;
  }
  // KWin 6 names the script's object under /Scripting, 5.27 at the top.
  std::string sixError;
  if (runScriptAt("/Scripting/Script" + std::to_string(id), sixError)) return true;
  if (runScriptAt("/" + std::to_string(id), error)) return true;
  error = "KWin loaded the script but did not run it: " + error;
  unloadScript(name);
  return false;
}

bool KWinBus::runScriptAt(const std::string& path, std::string& error) {
  Call call;
  const int result = sd_bus_call_method(state_->bus, kKWin, path.c_str(), "org.kde.kwin.Script",
                                        "run", &call.error, &call.reply, "");
  if (result < 0) error = call.what(result);
  return result >= 0;
}

bool KWinBus::unloadScript(const std::string& name) {
  Call call;
  int unloaded = 0;
  return sd_bus_call_method(state_->bus, kKWin, "/Scripting", kScripting, "unloadScript",
                            &call.error, &call.reply, "s", name.c_str()) >= 0 &&
         sd_bus_message_read(call.reply, "b", &unloaded) >= 0 && unloaded;
}

std::optional<std::vector<std::string>> KWinBus::actionsOnKey(int qtKey) {
  Call call;
  if (sd_bus_call_method(state_->bus, kGlobalAccel, "/kglobalaccel", "org.kde.KGlobalAccel",
                         "getGlobalShortcutsByKey", &call.error, &call.reply, "i", qtKey) < 0 ||
      sd_bus_message_enter_container(call.reply, SD_BUS_TYPE_ARRAY, "(ssssssaiai)") < 0) {
    return std::nullopt;
  }
  std::vector<std::string> actions;
  while (sd_bus_message_enter_container(call.reply, SD_BUS_TYPE_STRUCT, "ssssssaiai") > 0) {
    const char* unique = nullptr;
    const char* friendly = nullptr;
    if (sd_bus_message_read(call.reply, "ss", &unique, &friendly) < 0 || !unique) {
      return std::nullopt;
    }
    actions.emplace_back(unique);
    if (sd_bus_message_skip(call.reply, "ssssaiai") < 0 ||
        sd_bus_message_exit_container(call.reply) < 0) {
      return std::nullopt;
    }
  }
  return actions;
}

void KWinBus::forgetAction(const std::string& action) {
  Call call;
  sd_bus_call_method(state_->bus, kGlobalAccel, "/kglobalaccel", "org.kde.KGlobalAccel",
                     "unregister", &call.error, &call.reply, "ss", "kwin", action.c_str());
}

}  // namespace tolvane::kwin
