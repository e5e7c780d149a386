// The connection: registry, outputs, non-blocking dispatch and the failure in words.
#include "backends/wayland/wayland_client.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "backends/wayland/compositor_session.h"
#include "backends/wayland/foreign_toplevels.h"
#include "backends/wayland/overlay_surface.h"
#include "backends/wayland/plasma_windows.h"
#include "backends/wayland/toplevel_values.h"
#include "backends/wayland/wayland_globals.h"
#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"
#include "plasma-window-management-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace tolvane::wayland {

namespace {

/// Integer scales above this are not real screens.
constexpr std::int32_t kMaxScale = 8;
constexpr std::int32_t kMaxCoordinate = 1 << 20;

int clampCoordinate(std::int32_t value) {
  return std::clamp(value, -kMaxCoordinate, kMaxCoordinate);
}

OutputRecord& recordOf(void* data) {
  return *static_cast<OutputRecord*>(data);
}

const wl_output_listener kOutputListener = {
    .geometry =
        [](void* d, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
           std::int32_t, const char*, const char*, std::int32_t) {
          if (recordOf(d).xdgOutput != nullptr) return;
          recordOf(d).info.x = clampCoordinate(x);
          recordOf(d).info.y = clampCoordinate(y);
        },
    .mode =
        [](void* d, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
           std::int32_t) {
          if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
          recordOf(d).modeWidth = std::clamp(width, 0, kMaxCoordinate);
          recordOf(d).modeHeight = std::clamp(height, 0, kMaxCoordinate);
        },
    .done =
        [](void* d, wl_output*) {
          OutputRecord& record = recordOf(d);
          if (record.xdgOutput != nullptr && record.info.width > 0) return;
          record.info.width = record.modeWidth / record.info.scale;
          record.info.height = record.modeHeight / record.info.scale;
        },
    .scale = [](void* d, wl_output*,
                std::int32_t scale) { recordOf(d).info.scale = std::clamp(scale, 1, kMaxScale); },
    .name = [](void* d, wl_output*,
               const char* name) { recordOf(d).info.name = boundedText(name, 128); },
    .description = [](void*, wl_output*, const char*) {},
};

const zxdg_output_v1_listener kXdgOutputListener = {
    .logical_position =
        [](void* d, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
          recordOf(d).info.x = clampCoordinate(x);
          recordOf(d).info.y = clampCoordinate(y);
        },
    .logical_size =
        [](void* d, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
          recordOf(d).info.width = std::clamp(width, 0, kMaxCoordinate);
          recordOf(d).info.height = std::clamp(height, 0, kMaxCoordinate);
        },
    .done = [](void*, zxdg_output_v1*) {},
    .name = [](void* d, zxdg_output_v1*,
               const char* name) { recordOf(d).info.name = boundedText(name, 128); },
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

void watchXdgOutput(Globals& g, OutputRecord& record) {
  if (g.xdgOutputManager == nullptr || record.xdgOutput != nullptr) return;
  record.xdgOutput = zxdg_output_manager_v1_get_xdg_output(g.xdgOutputManager, record.output);
  zxdg_output_v1_add_listener(record.xdgOutput, &kXdgOutputListener, &record);
}

void destroyOutput(OutputRecord& record) {
  if (record.xdgOutput != nullptr) zxdg_output_v1_destroy(record.xdgOutput);
  if (wl_output_get_version(record.output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
    wl_output_release(record.output);
  } else {
    wl_output_destroy(record.output);
  }
}

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface,
        std::uint32_t offered, std::uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t version) {
  Globals& g = *static_cast<Globals*>(data);
  const std::string_view kind = interface != nullptr ? interface : "";
  g.kwin = g.kwin || kind.starts_with("org_kde_kwin_") || kind.starts_with("org_kde_plasma_");
  if (kind == wl_compositor_interface.name && g.compositor == nullptr) {
    g.compositor = bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 4);
  } else if (kind == wl_shm_interface.name && g.shm == nullptr) {
    g.shm = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
  } else if (kind == wl_seat_interface.name && g.seat == nullptr) {
    g.seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 5);
    g.input.attach(g.seat);
  } else if (kind == wl_output_interface.name) {
    auto record = std::make_unique<OutputRecord>();
    record->globalName = name;
    record->output = bind<wl_output>(registry, name, &wl_output_interface, version, 4);
    wl_output_add_listener(record->output, &kOutputListener, record.get());
    watchXdgOutput(g, *record);
    g.outputs.push_back(std::move(record));
  } else if (kind == zxdg_output_manager_v1_interface.name && g.xdgOutputManager == nullptr) {
    g.xdgOutputManager =
        bind<zxdg_output_manager_v1>(registry, name, &zxdg_output_manager_v1_interface, version, 3);
    for (auto& record : g.outputs) watchXdgOutput(g, *record);
  } else if (kind == zwlr_layer_shell_v1_interface.name && g.layerShell == nullptr) {
    g.layerShell =
        bind<zwlr_layer_shell_v1>(registry, name, &zwlr_layer_shell_v1_interface, version, 4);
  } else if (kind == zwlr_foreign_toplevel_manager_v1_interface.name && !g.toplevels) {
    auto* manager = bind<zwlr_foreign_toplevel_manager_v1>(
        registry, name, &zwlr_foreign_toplevel_manager_v1_interface, version, 3);
    // The seat may come later in the registry: look it up at each activation.
    g.toplevels = std::make_unique<ForeignToplevels>(
        g.display, manager, [&g] { return g.seat; },
        [&g](const wl_output* output) { return g.nameOf(output); });
  } else if (kind == org_kde_plasma_window_management_interface.name && !g.plasmaWindows) {
    // KWin offers it only to the executables its desktop entries trust.
    auto* manager = bind<org_kde_plasma_window_management>(
        registry, name, &org_kde_plasma_window_management_interface, version,
        PlasmaWindows::versionFor(version));
    g.plasmaWindows =
        std::make_unique<PlasmaWindows>(g.display, manager, [&g](int x, int y) -> std::string {
          for (const auto& record : g.outputs) {
            const auto& o = record->info;
            if (x >= o.x && y >= o.y && x < o.x + o.width && y < o.y + o.height) return o.name;
          }
          return {};
        });
    g.plasmaWindowsName = name;
  } else if (kind == zwp_keyboard_shortcuts_inhibit_manager_v1_interface.name &&
             g.shortcutsInhibitManager == nullptr) {
    g.shortcutsInhibitManager = bind<zwp_keyboard_shortcuts_inhibit_manager_v1>(
        registry, name, &zwp_keyboard_shortcuts_inhibit_manager_v1_interface, version, 1);
  }
}

void globalRemove(void* data, wl_registry*, std::uint32_t name) {
  Globals& g = *static_cast<Globals*>(data);
  // Kept, withdrawn: the desktop that follows it holds on to it.
  if (g.plasmaWindows && name == g.plasmaWindowsName) return g.plasmaWindows->withdraw();
  auto it = std::find_if(g.outputs.begin(), g.outputs.end(),
                         [&](const auto& record) { return record->globalName == name; });
  if (it == g.outputs.end()) return;
  destroyOutput(**it);
  g.outputs.erase(it);
}

const wl_registry_listener kRegistryListener = {.global = global, .global_remove = globalRemove};

}  // namespace

OutputRecord* Globals::outputNamed(const std::string& name) const {
  for (const auto& record : outputs) {
    if (record->info.name == name) return record.get();
  }
  return nullptr;
}

std::string Globals::nameOf(const wl_output* output) const {
  for (const auto& record : outputs) {
    if (record->output == output) return record->info.name;
  }
  return {};
}

WaylandClient::WaylandClient() : globals_(std::make_unique<Globals>()) {}

WaylandClient::~WaylandClient() {
  Globals& g = *globals_;
  if (g.display == nullptr) return;
  g.toplevels.reset();
  g.plasmaWindows.reset();
  for (auto& record : g.outputs) destroyOutput(*record);
  g.outputs.clear();
  if (g.layerShell != nullptr) {
    if (zwlr_layer_shell_v1_get_version(g.layerShell) >=
        ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION) {
      zwlr_layer_shell_v1_destroy(g.layerShell);
    } else {
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(g.layerShell));
    }
  }
  if (g.xdgOutputManager != nullptr) zxdg_output_manager_v1_destroy(g.xdgOutputManager);
  if (g.shortcutsInhibitManager != nullptr) {
    zwp_keyboard_shortcuts_inhibit_manager_v1_destroy(g.shortcutsInhibitManager);
  }
  g.input.detach();
  if (g.seat != nullptr) wl_seat_destroy(g.seat);
  if (g.shm != nullptr) wl_shm_destroy(g.shm);
  if (g.compositor != nullptr) wl_compositor_destroy(g.compositor);
  if (g.registry != nullptr) wl_registry_destroy(g.registry);
  wl_display_disconnect(g.display);
}

std::unique_ptr<WaylandClient> WaylandClient::connect(const char* displayName, std::string& error) {
  std::unique_ptr<WaylandClient> client(new WaylandClient());
  Globals& g = *client->globals_;
  g.display = wl_display_connect(displayName);
  if (g.display == nullptr) {
    error = std::string("cannot connect to the Wayland display: ") + std::strerror(errno);
    return nullptr;
  }
  g.registry = wl_display_get_registry(g.display);
  wl_registry_add_listener(g.registry, &kRegistryListener, &g);
  // The first round trip lists the globals; the second brings what the bound ones send at once
  // (output names and sizes, the seat's capabilities, the toplevels). Plasma's windows are only
  // named then: their states answer the objects asked for them, one more trip later.
  for (int trip = 0; trip < (g.plasmaWindows ? 3 : 2); ++trip) {
    if (wl_display_roundtrip(g.display) < 0) {
      client->noteFailure();
      error = client->failure();
      return nullptr;
    }
  }
  return client;
}

int WaylandClient::fd() const {
  return wl_display_get_fd(globals_->display);
}

bool WaylandClient::noteFailure() {
  if (!failure_.empty()) return false;
  const int code = wl_display_get_error(globals_->display);
  if (code == EPROTO) {
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    const std::uint32_t protocolCode =
        wl_display_get_protocol_error(globals_->display, &interface, &id);
    failure_ = "protocol error " + std::to_string(protocolCode) + " on " +
               (interface != nullptr ? interface->name : "a destroyed object") + "@" +
               std::to_string(id);
  } else {
    failure_ = std::string("Wayland connection lost: ") + std::strerror(code != 0 ? code : errno);
  }
  return false;
}

bool WaylandClient::dispatch() {
  if (hasFailed()) return false;
  wl_display* display = globals_->display;
  // Events already queued must be dispatched before another thread's read could be joined.
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) return noteFailure();
  }
  flush();
  pollfd readable = {.fd = fd(), .events = POLLIN, .revents = 0};
  if (poll(&readable, 1, 0) > 0 && (readable.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
    if (wl_display_read_events(display) < 0) return noteFailure();
  } else {
    wl_display_cancel_read(display);
  }
  if (wl_display_dispatch_pending(display) < 0) return noteFailure();
  flush();
  // A copy: a hook may remove itself.
  const auto hooks = globals_->afterDispatch;
  for (const auto& hook : hooks) hook.second();
  return !hasFailed();
}

bool WaylandClient::hungUp(double waitSeconds) const {
  pollfd watched{wl_display_get_fd(globals_->display), POLLRDHUP, 0};
  const int waitMs = static_cast<int>(std::max(0.0, waitSeconds) * 1000);
  int ready = 0;
  do {
    ready = ::poll(&watched, 1, waitMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void WaylandClient::flush() {
  if (!failure_.empty()) return;
  if (wl_display_flush(globals_->display) < 0 && errno != EAGAIN) noteFailure();
}

bool WaylandClient::hasFailed() const {
  return !failure_.empty() || wl_display_get_error(globals_->display) != 0;
}

std::string WaylandClient::failure() const {
  if (!failure_.empty() || wl_display_get_error(globals_->display) == 0) return failure_;
  const_cast<WaylandClient*>(this)->noteFailure();
  return failure_;
}

bool WaylandClient::hasForeignToplevels() const {
  return globals_->toplevels != nullptr;
}
bool WaylandClient::hasPlasmaWindows() const {
  return globals_->plasmaWindows != nullptr;
}
bool WaylandClient::compositorIsKWin() const {
  return globals_->kwin;
}
bool WaylandClient::hasLayerShell() const {
  return globals_->layerShell != nullptr;
}
ToplevelSource* WaylandClient::toplevels() {
  if (globals_->plasmaWindows) return globals_->plasmaWindows.get();
  return globals_->toplevels.get();
}
wl_display* WaylandClient::display() const {
  return globals_->display;
}

std::unique_ptr<CompositorSession> WaylandClient::makeSession(RunLoop&, Log) {
  return nullptr;
}

std::unique_ptr<OverlayHost> WaylandClient::makeOverlay() {
  return std::make_unique<OverlaySurface>(*this);
}

std::vector<WaylandClient::OutputInfo> WaylandClient::outputs() const {
  std::vector<OutputInfo> infos;
  for (const auto& record : globals_->outputs) infos.push_back(record->info);
  return infos;
}

}  // namespace tolvane::wayland
