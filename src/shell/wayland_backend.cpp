// Wiring the Wayland services together.
#include "shell/wayland_backend.h"

#include <malloc.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "backends/sway/compositor_lines.h"
#include "backends/sway/sway_tree.h"
#include "backends/sway/trigger_bindings.h"
#include "backends/system/crash_record.h"
#include "backends/wayland/wayland_keys.h"

namespace tolvane::shell {

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

std::string joined(const std::vector<sway::Binding>& bindings) {
  std::string text;
  for (const auto& binding : bindings) text += (text.empty() ? "" : ", ") + binding.combo;
  return text;
}

}  // namespace

std::unique_ptr<WaylandBackend> WaylandBackend::create(
    const BundleInfo& bundle, std::string display, std::unique_ptr<wayland::WaylandClient> client,
    std::string& error) {
  if (!client || !client->toplevels()) {
    error = "the Wayland compositor offers no list of windows";
    return nullptr;
  }
  return std::unique_ptr<WaylandBackend>(
      new WaylandBackend(bundle, std::move(display), std::move(client)));
}

WaylandBackend::WaylandBackend(const BundleInfo& bundle, std::string display,
                               std::unique_ptr<wayland::WaylandClient> client)
    : common_(bundle),
      display_(std::move(display)),
      client_(std::move(client)),
      swaySocket_(sway::swaySocketPath()),
      // Before the desktop: it reads sway's views (the windows' pids) as it starts, and an
      // application whose pid arrived later would look relaunched.
      swayCommands_(connectIpc(swaySocket_, swayError_)),
      swayEvents_(swayCommands_ ? connectIpc(swaySocket_, swayError_) : nullptr),
      overlay_(*client_, [this] { return screens_.mainOutput(); }),
      desktop_(*client_->toplevels(), common_.runLoop(),
               {.views = [this] { return swayViews(); },
                .focusByCon =
                    [this](std::int64_t con) {
                      return swayCommands_ &&
                             swayCommands_
                                 ->request(0, "[con_id=" + std::to_string(con) + "] focus",
                                           kSwayRequestSeconds)
                                 .has_value();
                    }},
               {.ownAppId = bundle.identifier, .ownPid = static_cast<Pid>(::getpid())}),
      screens_([this] { return outputAreas(); }, [this] { return desktop_.focusedOutput(); }),
      tap_(
          bindingsThrough(triggerBindings_, "bindings"), overlay_.keyboard(), common_.runLoop(),
          [this] { return triggerCombinations(); },
          [this](std::string_view line) { common_.log().log(line); }),
      hotKeys_(bindingsThrough(paletteBindings_, "palette binding")),
      panel_(overlay_.canvas(),
             qt::AppIcons([this](const std::string& id) { return desktop_.iconPNG(id); }),
             [this] { common_.log().log("wayland: overlay shown hud"); }),
      keyMonitor_([](std::uint32_t keycode, std::uint32_t state, std::uint32_t keysym) {
        return wayland::keyDownOf(keycode, state, keysym);
      }),
      palettePanel_(
          overlay_.canvas(),
          qt::AppIcons([this](const std::string& id) { return desktop_.iconPNG(id); }),
          [this](const KeyEvent& key) { return keyMonitor_.offer(key); },
          [this] { common_.log().log("wayland: overlay shown palette"); }) {
  desktop_.setFocusObserver([this](wayland::ToplevelId window) { focusChanged(window); });
  connectSway();
  waylandNotifier_ = std::make_unique<QSocketNotifier>(client_->fd(), QSocketNotifier::Read);
  QObject::connect(waylandNotifier_.get(), &QSocketNotifier::activated,
                   [this] { dispatchWayland(); });
  common_.connectIcons([this](const std::string& id) { return desktop_.iconPNG(id); });
  desktop_.addObserver(WorkspaceEvent::launched, [](const RunningApp& app) {
    if (app.bundleID) qt::AppIcons::applicationLaunched(*app.bundleID);
  });
  services_ =
      common_.services(bundle, {&desktop_, &desktop_, &desktop_, &desktop_, &tap_, &hotKeys_,
                                &screens_, &panel_, &palettePanel_, &keyMonitor_});
}

WaylandBackend::~WaylandBackend() {
  quitting();
}

void WaylandBackend::connectSway() {
  if (!swaySocket_) return;
  if (!swayEvents_ || !swayEvents_->subscribe(kSwayEvents)) {
    common_.log().log("wayland: sway's IPC at " + *swaySocket_ + " is not usable (" + swayError_ +
                      "); bind the keys to tolvane trigger (see tolvane --print-bindings sway)");
    swayCommands_.reset();
    swayEvents_.reset();
    return;
  }
  triggerBindings_ = std::make_unique<sway::SwayBindings>(*swayCommands_);
  paletteBindings_ = std::make_unique<sway::SwayBindings>(*swayCommands_);
  swayNotifier_ = std::make_unique<QSocketNotifier>(swayEvents_->fd(), QSocketNotifier::Read);
  QObject::connect(swayNotifier_.get(), &QSocketNotifier::activated, [this] { dispatchSway(); });
}

wayland::TriggerBindings WaylandBackend::bindingsThrough(std::unique_ptr<sway::SwayBindings>& owner,
                                                         const char* what) {
  // Without sway's IPC nothing is installed: the user's configuration runs the front door.
  return {
      .install = [this, &owner, what](const std::vector<sway::Binding>& bindings)
          -> std::optional<wayland::TriggerBindings::Refusal> {
        if (!owner) return std::nullopt;
        const auto outcome = owner->install(bindings);
        if (!outcome.takenByConfig.empty()) {
          const auto& taken = outcome.takenByConfig.front();
          owner->removeAll();
          return wayland::TriggerBindings::Refusal{
              taken.combo, taken.combo + " is bound in sway's configuration"};
        }
        if (!outcome.refused.empty()) {
          const auto& [binding, reason] = outcome.refused.front();
          owner->removeAll();
          return wayland::TriggerBindings::Refusal{binding.combo,
                                                   binding.combo + " was refused: " + reason};
        }
        common_.log().log(std::string("wayland: ") + what +
                          " installed: " + joined(outcome.installed));
        prepareRemovals();
        return std::nullopt;
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

void WaylandBackend::prepareRemovals() {
  const std::string payload = removalOf({triggerBindings_.get(), paletteBindings_.get()});
  prepareCrashRemoval(*swaySocket_, payload);
  std::lock_guard lock(stallRemovalLock_);
  stallRemoval_ = payload;
}

bool WaylandBackend::takeBindingsBackFromAnyThread() {
  std::string payload;
  {
    std::lock_guard lock(stallRemovalLock_);
    payload.swap(stallRemoval_);
  }
  // The socket's path is fixed before any binding exists.
  if (payload.empty() || !swaySocket_) return false;
  sway::sendPrecomposed(swaySocket_->c_str(), payload.data(), payload.size());
  common_.runLoop().postFromAnyThread([this] { putBindingsBack(); });
  return true;
}

void WaylandBackend::putBindingsBack() {
  tap_.reloadCombinations();
  hotKeys_.reinstall();
}

void WaylandBackend::dispatchWayland() {
  if (client_->dispatch()) return;
  compositorLost();
}

void WaylandBackend::compositorLost() {
  waylandNotifier_.reset();
  common_.log().log("wayland: the compositor connection ended: " + client_->failure());
  // The entry point's exit handler says it once on standard error.
  QCoreApplication::exit(1);
}

void WaylandBackend::dispatchSway() {
  // One reading of the tree for a burst of changes: a switch alone brings several events.
  bool treeChanged = false;
  for (const auto& event : swayEvents_->readAvailable()) {
    if (event.type == sway::ipc::kBindingEvent) {
      if (const auto fired = sway::triggerOfBindingEvent(event.body)) trigger(*fired);
    } else if (event.type == sway::ipc::kShutdownEvent) {
      common_.log().log("wayland: sway is shutting down");
    } else if (sway::eventChangesViews(event.type, event.body)) {
      treeChanged = true;
    }
  }
  if (treeChanged) desktop_.swayTreeChanged();
  if (swayEvents_->failed()) {
    common_.log().log("wayland: sway's IPC connection ended");
    swayNotifier_.reset();
  }
}

void WaylandBackend::trigger(sway::Trigger fired) {
  if (fired == sway::Trigger::palette) {
    hotKeys_.press();
  } else {
    tap_.trigger(fired);
  }
}

bool WaylandBackend::handleMessage(const std::string& message) {
  constexpr std::string_view kPrefix = "trigger ";
  if (!message.starts_with(kPrefix)) return false;
  if (const auto fired = sway::triggerOfWord(std::string_view(message).substr(kPrefix.size()))) {
    trigger(*fired);
  }
  return true;
}

void WaylandBackend::launched() {
  if (!swayCommands_) {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    common_.log().notice(sway::manualBindingsNotice(desktop ? desktop : ""));
  }
}

void WaylandBackend::quitting() {
  // Whatever the application did or did not tear down, nothing of ours stays bound.
  if (triggerBindings_) triggerBindings_->removeAll();
  if (paletteBindings_) paletteBindings_->removeAll();
  overlay_.keyboard().release();
  client_->flush();
}

bool WaylandBackend::isUsable(std::string& problem) const {
  if (desktop_.isProcessTrusted()) return true;
  problem = "the Wayland compositor withdrew its list of windows";
  return false;
}

void WaylandBackend::setFocusObserver(std::function<void(std::uint32_t)> observer) {
  focusObserver_ = std::move(observer);
}

void WaylandBackend::focusChanged(wayland::ToplevelId window) {
  // The log names the application, so that a reader (and the desktop tests) can tell which
  // focus change Tolvane has taken in.
  for (const auto& toplevel : client_->toplevels()->toplevels()) {
    if (toplevel.id == window) common_.log().log("wayland: activated app_id=" + toplevel.appId);
  }
  if (focusObserver_) focusObserver_(static_cast<std::uint32_t>(window));
}

std::vector<sway::Binding> WaylandBackend::triggerCombinations() const {
  if (!settings_) return {};
  return sway::triggerBindings({.interceptTab = settings_->interceptCmdTab(),
                                .interceptKeyAboveTab = settings_->interceptAppCycle(),
                                .triggerIsOption = settings_->switcherUsesOption()});
}

std::vector<sway::SwayView> WaylandBackend::swayViews() {
  if (!swayCommands_) return {};
  std::vector<sway::SwayView> views;
  if (const auto tree = swayCommands_->request(4, "", kSwayRequestSeconds)) {
    views = sway::parseSwayTree(*tree);
  }
  // A thousand windows' tree is megabytes of small blocks, freed by now but kept by the
  // allocator in the heap's middle: handing the free pages back keeps the resident size that
  // of the views, not of the reply.
  ::malloc_trim(0);
  return views;
}

std::vector<wayland::OutputArea> WaylandBackend::outputAreas() const {
  std::vector<wayland::OutputArea> areas;
  for (const auto& output : client_->outputs()) {
    areas.push_back(
        {output.name, Rect{static_cast<double>(output.x), static_cast<double>(output.y),
                           static_cast<double>(output.width), static_cast<double>(output.height)}});
  }
  return areas;
}

}  // namespace tolvane::shell
