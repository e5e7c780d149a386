// tolvane-test-client: one process, several titled normal windows, until it is killed.
//
//   tolvane-test-client [--class CLASS] [--count N]
//
// Opens N windows (two unless given) titled "window 1" to "window N", all sharing this
// process's _NET_WM_PID, WM_CLIENT_MACHINE and WM_CLASS, so that a desktop sees them as one
// application. The program ends when the display does.
#include <unistd.h>
#include <xcb/xcb.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

/// More windows than any desktop test or benchmark asks for: a typing slip must not flood the
/// display.
constexpr int kMaxCount = 10000;

struct Options {
  std::string windowClass = "TolvaneTestClient";
  int count = 2;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view arg = argv[i], value = argv[i + 1];
    if (arg == "--class") {
      options.windowClass = value;
      continue;
    }
    const auto [end, error] =
        std::from_chars(value.data(), value.data() + value.size(), options.count);
    if (arg != "--count" || error != std::errc{} || end != value.data() + value.size() ||
        options.count < 1 || options.count > kMaxCount) {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0) return std::nullopt;
  return options;
}

xcb_atom_t atom(xcb_connection_t* c, std::string_view name) {
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(
          c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr),
      &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

/// Sets a property from bytes (8-bit) or from 32-bit values.
void set(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
         std::string_view bytes) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, 8,
                      static_cast<std::uint32_t>(bytes.size()), bytes.data());
}
void set(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
         std::uint32_t value) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, 32, 1, &value);
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: %s [--class CLASS] [--count N]\n", argv[0]);
    return 2;
  }
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "%s: cannot open the display\n", argv[0]);
    xcb_disconnect(c);
    return 1;
  }
  auto screens = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  const xcb_screen_t& screen = *screens.data;

  // Interned once: a thousand windows must not cost a round trip per property each.
  const xcb_atom_t utf8 = atom(c, "UTF8_STRING"), name = atom(c, "_NET_WM_NAME"),
                   pid = atom(c, "_NET_WM_PID"), type = atom(c, "_NET_WM_WINDOW_TYPE"),
                   normal = atom(c, "_NET_WM_WINDOW_TYPE_NORMAL");
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  // WM_CLASS is two NUL-terminated strings: the instance, then the class.
  const std::string wmClass =
      "tolvane-test-client" + std::string(1, '\0') + options->windowClass + '\0';
  for (int n = 1; n <= options->count; ++n) {
    const std::string title = "window " + std::to_string(n);
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {screen.white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    // A cascade that starts over every ten windows, so that hundreds stay on the screen.
    const auto offset = static_cast<std::int16_t>(40 + 60 * ((n - 1) % 10));
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen.root, offset, offset, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    set(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
    set(c, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title);
    set(c, window, name, utf8, title);
    set(c, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, host);
    set(c, window, pid, XCB_ATOM_CARDINAL, static_cast<std::uint32_t>(getpid()));
    set(c, window, type, XCB_ATOM_ATOM, normal);
    xcb_map_window(c, window);
  }
  xcb_flush(c);
  // Events are read (and dropped) until the display goes away.
  while (xcb_generic_event_t* event = xcb_wait_for_event(c)) std::free(event);
  xcb_disconnect(c);
  return 0;
}
