// tolvane-wayland-test-client: one Wayland client holding N xdg-shell toplevels, each showing a
// small shm buffer, until it is killed or the compositor goes away.
//
//   tolvane-wayland-test-client [--app-id ID] [--title TITLE] [--count N] [--minimized]
//                               [--record FILE]
//
// With N above 1 the titles are "TITLE 1" to "TITLE N". --minimized asks for each toplevel to
// be minimized once it has been configured and shown. Each change of a toplevel's activated
// state is a line "activated ID:TITLE" or "deactivated ID:TITLE" on standard output, so that a
// harness knows the focus without asking the compositor; at SIGUSR1 the client makes a round
// trip to the compositor and says "synced", so that every line about what the compositor did
// before is out. With --record, the text that the keys
// typed into the client's toplevels make under the compositor's keymap is appended to FILE.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
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
/// A keymap larger than this is no keymap: the client ends rather than map it.
constexpr std::uint32_t kMaxKeymap = 1 << 20;
/// xkbcommon's key codes are the evdev codes moved by the X11 minimum.
constexpr std::uint32_t kEvdevToXkb = 8;

struct Options {
  std::string appId = "tolvane-test-client", title = "window", record;
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
    } else if (arg == "--record") {
      options.record = value;
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
  /// Where typed text goes (-1: nowhere), and the keymap that makes it.
  int record = -1;
  wl_seat* seat = nullptr;
  xkb_context* xkb = nullptr;
  xkb_keymap* keymap = nullptr;
  xkb_state* keys = nullptr;
};

struct Toplevel {
  Client* client = nullptr;
  wl_surface* surface = nullptr;
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  /// "ID:TITLE", as the activation lines name it.
  std::string name;
  bool shown = false, activated = false;
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
  } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && client.record >= 0 &&
             client.seat == nullptr) {
    client.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
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

// Only the changes are told: a resize repeats the state it had.
void toplevelConfigure(void* data, xdg_toplevel*, std::int32_t, std::int32_t, wl_array* states) {
  auto& window = *static_cast<Toplevel*>(data);
  bool activated = false;
  const auto* state = static_cast<const std::uint32_t*>(states->data);
  for (std::size_t i = 0; i < states->size / sizeof *state; ++i) {
    activated = activated || state[i] == XDG_TOPLEVEL_STATE_ACTIVATED;
  }
  if (activated == window.activated) return;
  window.activated = activated;
  std::printf("%s %s\n", activated ? "activated" : "deactivated", window.name.c_str());
}
// A closed toplevel goes; the client ends with its last one.
void toplevelClose(void* data, xdg_toplevel*) {
  auto& window = *static_cast<Toplevel*>(data);
  if (window.toplevel == nullptr) return;
  // A window that goes is no longer activated, though no configure will say so.
  if (window.activated) std::printf("deactivated %s\n", window.name.c_str());
  xdg_toplevel_destroy(window.toplevel);
  xdg_surface_destroy(window.xdgSurface);
  wl_surface_destroy(window.surface);
  window.toplevel = nullptr;
  --window.client->open;
}
const xdg_toplevel_listener kToplevelListener = {.configure = toplevelConfigure,
                                                 .close = toplevelClose};

void keymap(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
  auto& client = *static_cast<Client*>(data);
  void* text = size <= kMaxKeymap && format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1
                   ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                   : MAP_FAILED;
  close(fd);
  if (text == MAP_FAILED) return;
  xkb_state_unref(client.keys);
  xkb_keymap_unref(client.keymap);
  client.keymap = xkb_keymap_new_from_buffer(
      client.xkb, static_cast<const char*>(text), strnlen(static_cast<const char*>(text), size),
      XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
  munmap(text, size);
  client.keys = client.keymap ? xkb_state_new(client.keymap) : nullptr;
}
void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t code,
         std::uint32_t state) {
  auto& client = *static_cast<Client*>(data);
  if (client.keys == nullptr || state != WL_KEYBOARD_KEY_STATE_PRESSED) return;
  char text[64];
  const int length = xkb_state_key_get_utf8(client.keys, code + kEvdevToXkb, text, sizeof text);
  if (length <= 0) return;
  // A key that makes no whole character in the buffer is cut: no test types one.
  [[maybe_unused]] const ssize_t written =
      write(client.record, text, std::min<std::size_t>(length, sizeof text - 1));
}
void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
               std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
  auto& client = *static_cast<Client*>(data);
  if (client.keys) xkb_state_update_mask(client.keys, depressed, latched, locked, 0, 0, group);
}
void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener kKeyboardListener = {.keymap = keymap,
                                                .enter = enter,
                                                .leave = leave,
                                                .key = key,
                                                .modifiers = modifiers,
                                                .repeat_info = repeatInfo};

void capabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
  auto& client = *static_cast<Client*>(data);
  if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && client.xkb == nullptr) {
    client.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    wl_keyboard_add_listener(wl_seat_get_keyboard(seat), &kKeyboardListener, &client);
  }
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {.capabilities = capabilities, .name = seatName};

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

/// Handles what the compositor sent or a sync asked; false once the connection is gone.
bool serve(wl_display* display, int syncs) {
  while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
  wl_display_flush(display);
  pollfd fds[] = {{wl_display_get_fd(display), POLLIN, 0}, {syncs, POLLIN, 0}};
  // A hang-up is read too: reading it ends the connection, and the client with it.
  if (poll(fds, 2, -1) > 0 && fds[0].revents != 0) {
    if (wl_display_read_events(display) != 0) return false;
  } else {
    wl_display_cancel_read(display);
  }
  if (wl_display_dispatch_pending(display) < 0) return false;
  signalfd_siginfo asked;
  if (read(syncs, &asked, sizeof asked) == sizeof asked) {
    if (wl_display_roundtrip(display) < 0) return false;
    std::printf("synced\n");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: %s [--app-id ID] [--title TITLE] [--count N] [--minimized] "
                 "[--record FILE]\n",
                 argv[0]);
    return 2;
  }
  // A harness waits on each line as it comes.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  sigset_t sync;
  sigemptyset(&sync);
  sigaddset(&sync, SIGUSR1);
  sigprocmask(SIG_BLOCK, &sync, nullptr);
  const int syncs = signalfd(-1, &sync, SFD_CLOEXEC | SFD_NONBLOCK);
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "no Wayland display\n");
    return 1;
  }
  Client client{.minimize = options->minimized};
  if (!options->record.empty()) {
    client.record = open(options->record.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (client.record < 0) {
      std::fprintf(stderr, "cannot record to %s\n", options->record.c_str());
      return 1;
    }
  }
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, &client);
  wl_display_roundtrip(display);
  if (client.seat) wl_seat_add_listener(client.seat, &kSeatListener, &client);
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
    window.name = options->appId + ":" + title;
    xdg_toplevel_set_app_id(window.toplevel, options->appId.c_str());
    xdg_toplevel_set_title(window.toplevel, title.c_str());
    wl_surface_commit(window.surface);
    ++client.open;
  }
  while (client.open > 0 && serve(display, syncs)) {
  }
  wl_display_disconnect(display);
  return 0;
}
