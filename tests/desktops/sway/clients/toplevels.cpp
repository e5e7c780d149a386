// tolvane-wayland-test-client: one Wayland client holding N xdg-shell toplevels, each showing a
// small shm buffer, until it is killed or the compositor goes away.
//
//   tolvane-wayland-test-client [--app-id ID] [--title TITLE] [--count N] [--minimized]
//
// With N above 1 the titles are "TITLE 1" to "TITLE N". --minimized asks for each toplevel to
// be minimized once it has been configured and shown.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xdg-shell-client-protocol.h"

namespace {

/// More toplevels than any test or benchmark asks for: a typing slip must not flood sway.
constexpr int kMaxCount = 10000;
constexpr int kSide = 32;

struct Options {
  std::string appId = "tolvane-test-client", title = "window";
  int count = 1;
  bool minimized = false;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--minimized") {
      options.minimized = true;
      continue;
    }
    if (i + 1 >= argc) return std::nullopt;
    const std::string_view value = argv[++i];
    if (arg == "--app-id") {
      options.appId = value;
    } else if (arg == "--title") {
      options.title = value;
    } else if (arg == "--count") {
      const auto [end, error] =
          std::from_chars(value.data(), value.data() + value.size(), options.count);
      if (error != std::errc{} || end != value.data() + value.size() || options.count < 1 ||
          options.count > kMaxCount) {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
  }
  return options;
}

struct Client {
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* shell = nullptr;
  /// One buffer every surface shows: nothing ever draws into it after the start.
  wl_buffer* buffer = nullptr;
  bool minimize = false;
  int open = 0;
};

struct Toplevel {
  Client* client = nullptr;
  wl_surface* surface = nullptr;
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  bool shown = false;
};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
  auto& client = *static_cast<Client*>(data);
  if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
    client.compositor =
        static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 1));
  } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
    client.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
    client.shell =
        static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
  }
}
void globalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {.global = global, .global_remove = globalRemove};

void ping(void*, xdg_wm_base* shell, std::uint32_t serial) {
  xdg_wm_base_pong(shell, serial);
}
const xdg_wm_base_listener kShellListener = {.ping = ping};

// A toplevel maps at its first commit with a buffer, which must follow the first configure.
// Every configure is acknowledged by a commit at once: sway holds a layout change until each
// window it resized has committed (or a timeout passed), and a thousand toplevels of one
// workspace are all resized by each new one.
void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
  auto& window = *static_cast<Toplevel*>(data);
  xdg_surface_ack_configure(surface, serial);
  const bool first = !window.shown;
  if (first) {
    window.shown = true;
    wl_surface_attach(window.surface, window.client->buffer, 0, 0);
    wl_surface_damage(window.surface, 0, 0, kSide, kSide);
  }
  wl_surface_commit(window.surface);
  if (first && window.client->minimize) xdg_toplevel_set_minimized(window.toplevel);
}
const xdg_surface_listener kSurfaceListener = {.configure = surfaceConfigure};

void toplevelConfigure(void*, xdg_toplevel*, std::int32_t, std::int32_t, wl_array*) {}
// A closed toplevel goes; the client ends with its last one.
void toplevelClose(void* data, xdg_toplevel*) {
  auto& window = *static_cast<Toplevel*>(data);
  if (window.toplevel == nullptr) return;
  xdg_toplevel_destroy(window.toplevel);
  xdg_surface_destroy(window.xdgSurface);
  wl_surface_destroy(window.surface);
  window.toplevel = nullptr;
  --window.client->open;
}
const xdg_toplevel_listener kToplevelListener = {.configure = toplevelConfigure,
                                                 .close = toplevelClose};

/// A kSide-square opaque grey buffer in shared memory.
wl_buffer* makeBuffer(wl_shm* shm) {
  constexpr int stride = kSide * 4, size = stride * kSide;
  const int fd = memfd_create("tolvane-test-client", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) != 0) return nullptr;
  if (void* pixels = mmap(nullptr, size, PROT_WRITE, MAP_SHARED, fd, 0); pixels != MAP_FAILED) {
    std::memset(pixels, 0x80, size);
    munmap(pixels, size);
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
  wl_buffer* buffer =
      wl_shm_pool_create_buffer(pool, 0, kSide, kSide, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: %s [--app-id ID] [--title TITLE] [--count N] [--minimized]\n",
                 argv[0]);
    return 2;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "no Wayland display\n");
    return 1;
  }
  Client client{.minimize = options->minimized};
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, &client);
  wl_display_roundtrip(display);
  if (client.compositor == nullptr || client.shm == nullptr || client.shell == nullptr ||
      (client.buffer = makeBuffer(client.shm)) == nullptr) {
    std::fprintf(stderr, "the compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
    return 1;
  }
  xdg_wm_base_add_listener(client.shell, &kShellListener, nullptr);
  std::vector<std::unique_ptr<Toplevel>> windows;
  for (int i = 1; i <= options->count; ++i) {
    auto& window = *windows.emplace_back(std::make_unique<Toplevel>());
    window.client = &client;
    window.surface = wl_compositor_create_surface(client.compositor);
    window.xdgSurface = xdg_wm_base_get_xdg_surface(client.shell, window.surface);
    xdg_surface_add_listener(window.xdgSurface, &kSurfaceListener, &window);
    window.toplevel = xdg_surface_get_toplevel(window.xdgSurface);
    xdg_toplevel_add_listener(window.toplevel, &kToplevelListener, &window);
    const std::string title =
        options->count == 1 ? options->title : options->title + " " + std::to_string(i);
    xdg_toplevel_set_app_id(window.toplevel, options->appId.c_str());
    xdg_toplevel_set_title(window.toplevel, title.c_str());
    wl_surface_commit(window.surface);
    ++client.open;
  }
  while (client.open > 0 && wl_display_dispatch(display) != -1) {
  }
  wl_display_disconnect(display);
  return 0;
}
