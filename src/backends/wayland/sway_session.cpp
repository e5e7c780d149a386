// sway's IPC for the Wayland desktop: what each of sway's events becomes, and Tolvane's bindings
// with their ways back out.
//
//   binding event, "nop tolvane WORD"  the trigger WORD, to CompositorTriggers
//   window and workspace events        one reading of the tree per burst (eventChangesViews)
//   shutdown event                     a log line; the compositor connection's end follows
//   crash                              the precomposed unbind list, async-signal-safe
//   stall                              the same list from the watchdog's thread; the main
//                                      thread installs the bindings again once it runs
#include "backends/wayland/sway_session.h"

#include <malloc.h>

#include <atomic>
#include <cstring>

#include "backends/sway/sway_tree.h"
#include "backends/sway/trigger_bindings.h"
#include "backends/system/crash_record.h"

namespace tolvane::wayland {

namespace {

/// sway answers a command within milliseconds; a sway that takes longer is stuck, and the main
/// thread must not be.
constexpr double kSwayRequestSeconds = 0.5;
/// Binding events name a trigger; window and workspace events change what the tree says.
const std::vector<std::string> kSwayEvents = {"binding", "window", "workspace", "shutdown"};

// What the crash handler sends sway to take Tolvane's bindings back: written on the main thread
// after each install, read by the handler with async-signal-safe calls only.
struct CrashRemoval {
  char socket[108] = {};
  char payload[4096] = {};
  std::atomic<std::size_t> length{0};
};
CrashRemoval crashRemoval;

void removeBindingsAfterCrash() {
  const std::size_t length = crashRemoval.length.load();
  if (length > 0) sway::sendPrecomposed(crashRemoval.socket, crashRemoval.payload, length);
}

/// The unbind commands of every binding `owners` installed, as one command list.
std::string removalOf(std::initializer_list<const sway::SwayBindings*> owners) {
  std::string payload;
  for (const auto* owner : owners) {
    if (!owner || owner->removalPayload().empty()) continue;
    payload += (payload.empty() ? "" : ";") + owner->removalPayload();
  }
  return payload;
}

/// Keeps `payload` ready for the crash handler.
void prepareCrashRemoval(const std::string& socket, const std::string& payload) {
  crashRemoval.length = 0;
  if (payload.size() >= sizeof crashRemoval.payload ||
      socket.size() >= sizeof crashRemoval.socket) {
    return;
  }
  std::memcpy(crashRemoval.socket, socket.c_str(), socket.size() + 1);
  std::memcpy(crashRemoval.payload, payload.data(), payload.size());
  crashRemoval.length = payload.size();
  system::setCrashLastWords(removeBindingsAfterCrash);
}

std::unique_ptr<sway::SwayIpc> connectIpc(const std::optional<std::string>& socket,
                                          std::string& error) {
  return socket ? sway::SwayIpc::connect(*socket, error) : nullptr;
}

}  // namespace

SwaySession::SwaySession(RunLoop& loop, Log log)
    : loop_(loop), log_(std::move(log)), socket_(sway::swaySocketPath()) {
  if (!socket_) return;
  std::string error;
  commands_ = connectIpc(socket_, error);
  if (commands_) events_ = connectIpc(socket_, error);
  if (!events_ || !events_->subscribe(kSwayEvents)) {
    log_("wayland: sway's IPC at " + *socket_ + " is not usable (" + error +
         "); bind the keys to tolvane trigger (see tolvane --print-bindings sway)");
    commands_.reset();
    events_.reset();
    return;
  }
  triggerBindings_ = std::make_unique<sway::SwayBindings>(*commands_);
  paletteBindings_ = std::make_unique<sway::SwayBindings>(*commands_);
}

SwaySession::~SwaySession() {
  removeBindings();
}

void SwaySession::feed(CompositorTriggers& triggers, std::function<void()> treeChanged) {
  triggers_ = &triggers;
  treeChanged_ = std::move(treeChanged);
}

void SwaySession::readEvents() {
  if (!events_) return;
  // One reading of the tree for a burst of changes: a switch alone brings several events.
  bool treeChanged = false;
  for (const auto& event : events_->readAvailable()) {
    if (event.type == sway::ipc::kBindingEvent) {
      const auto fired = sway::triggerOfBindingEvent(event.body);
      if (fired && triggers_) triggers_->fire(*fired);
    } else if (event.type == sway::ipc::kShutdownEvent) {
      log_("wayland: sway is shutting down");
    } else if (sway::eventChangesViews(event.type, event.body)) {
      treeChanged = true;
    }
  }
  if (treeChanged && treeChanged_) treeChanged_();
  if (events_->failed()) {
    log_("wayland: sway's IPC connection ended");
    events_.reset();
  }
}

TriggerBindings SwaySession::bindingsOf(std::unique_ptr<sway::SwayBindings>& owner,
                                        const char* what) {
  // Without sway's IPC nothing is installed: the user's configuration runs the front door.
  return {
      .install = [this, &owner, what](const std::vector<sway::Binding>& bindings)
          -> std::optional<TriggerBindings::Refusal> {
        return owner ? install(*owner, what, bindings) : std::nullopt;
      },
      .remove =
          [this, &owner] {
            if (!owner) return;
            owner->removeAll();
            prepareRemovals();
          },
      .removeFromAnyThread = [this] { return takeBindingsBackFromAnyThread(); },
      .manualLines = [&owner]() -> std::optional<std::string> {
        if (owner) return std::nullopt;
        return sway::configurationLines();
      },
  };
}

std::optional<TriggerBindings::Refusal> SwaySession::install(
    sway::SwayBindings& owner, const char* what, const std::vector<sway::Binding>& bindings) {
  const auto outcome = owner.install(bindings);
  if (!outcome.takenByConfig.empty()) {
    const auto& taken = outcome.takenByConfig.front();
    owner.removeAll();
    return TriggerBindings::Refusal{taken.combo, taken.combo + " is bound in sway's configuration"};
  }
  if (!outcome.refused.empty()) {
    const auto& [binding, reason] = outcome.refused.front();
    owner.removeAll();
    return TriggerBindings::Refusal{binding.combo, binding.combo + " was refused: " + reason};
  }
  log_(std::string("wayland: ") + what + " installed: " + sway::joinedCombos(outcome.installed));
  prepareRemovals();
  return std::nullopt;
}

void SwaySession::prepareRemovals() {
  const std::string payload = removalOf({triggerBindings_.get(), paletteBindings_.get()});
  prepareCrashRemoval(*socket_, payload);
  std::lock_guard lock(stallRemovalLock_);
  stallRemoval_ = payload;
}

bool SwaySession::takeBindingsBackFromAnyThread() {
  std::string payload;
  {
    std::lock_guard lock(stallRemovalLock_);
    payload.swap(stallRemoval_);
  }
  // The socket's path is fixed before any binding exists.
  if (payload.empty() || !socket_) return false;
  sway::sendPrecomposed(socket_->c_str(), payload.data(), payload.size());
  loop_.postFromAnyThread([this] {
    if (triggers_) triggers_->bindingsTakenBack();
  });
  return true;
}

void SwaySession::removeBindings() {
  if (triggerBindings_) triggerBindings_->removeAll();
  if (paletteBindings_) paletteBindings_->removeAll();
}

std::vector<sway::SwayView> SwaySession::views() {
  if (!commands_) return {};
  std::vector<sway::SwayView> views;
  if (const auto tree = commands_->request(sway::ipc::kGetTree, "", kSwayRequestSeconds)) {
    views = sway::parseSwayTree(*tree);
  }
  // A thousand windows' tree is megabytes of small blocks, freed by now but kept by the
  // allocator in the heap's middle: handing the free pages back keeps the resident size that
  // of the views, not of the reply.
  ::malloc_trim(0);
  return views;
}

bool SwaySession::focus(std::int64_t con) {
  return commands_ &&
         commands_
             ->request(sway::ipc::kRunCommand, "[con_id=" + std::to_string(con) + "] focus",
                       kSwayRequestSeconds)
             .has_value();
}

}  // namespace tolvane::wayland
