// tolvane-test-client: one process, several titled normal windows, until it is killed.
//
//   tolvane-test-client [--class CLASS] [--instance NAME] [--gtk-id ID] [TITLE...]
//
// Opens one window per TITLE (two when none is given), all sharing this process's _NET_WM_PID,
// WM_CLIENT_MACHINE and WM_CLASS, so that a desktop sees them as one application. A window the
// window manager asks to close (WM_DELETE_WINDOW) goes away; the program ends with its last
// window or when the display does.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Options {
  std::string instance = "tolvane-test-client";
  std::string windowClass = "TolvaneTestClient";
  std::string gtkApplicationID;
  std::vector<std::string> titles;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool takesValue = arg == "--class" || arg == "--instance" || arg == "--gtk-id";
    if (takesValue && i + 1 >= argc) return std::nullopt;
    if (arg == "--class") {
      options.windowClass = argv[++i];
    } else if (arg == "--instance") {
      options.instance = argv[++i];
    } else if (arg == "--gtk-id") {
      options.gtkApplicationID = argv[++i];
    } else {
      options.titles.emplace_back(arg);
    }
  }
  if (options.titles.empty()) options.titles = {"first window", "second window"};
  return options;
}

class Client {
 public:
  explicit Client(xcb_connection_t* connection) : connection_(connection) {}

  xcb_atom_t atom(std::string_view name) {
    const auto cookie =
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data());
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection_, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  }

  void setBytes(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::string_view bytes) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, property, type, 8,
                        static_cast<std::uint32_t>(bytes.size()), bytes.data());
  }

  void setValues(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                 const std::vector<std::uint32_t>& values) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, property, type, 32,
                        static_cast<std::uint32_t>(values.size()), values.data());
  }

  xcb_window_t open(const xcb_screen_t& screen, const Options& options, const std::string& title,
                    int index) {
    const xcb_window_t window = xcb_generate_id(connection_);
    const std::uint32_t values[] = {screen.white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen.root,
                      static_cast<std::int16_t>(40 + 60 * index),
                      static_cast<std::int16_t>(40 + 60 * index), 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    // WM_CLASS is two NUL-terminated strings: the instance, then the class.
    const std::string wmClass = options.instance + '\0' + options.windowClass + '\0';
    setBytes(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
    setBytes(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title);
    setBytes(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), title);
    setBytes(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, hostname());
    setValues(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
              {static_cast<std::uint32_t>(getpid())});
    setValues(window, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
              {atom("_NET_WM_WINDOW_TYPE_NORMAL")});
    setValues(window, atom("WM_PROTOCOLS"), XCB_ATOM_ATOM, {atom("WM_DELETE_WINDOW")});
    if (!options.gtkApplicationID.empty()) {
      setBytes(window, atom("_GTK_APPLICATION_ID"), atom("UTF8_STRING"), options.gtkApplicationID);
    }
    xcb_map_window(connection_, window);
    return window;
  }

  /// Serves close requests until no window is left or the display goes away.
  void run(std::vector<xcb_window_t> windows) {
    const xcb_atom_t protocols = atom("WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = atom("WM_DELETE_WINDOW");
    while (!windows.empty()) {
      xcb_generic_event_t* event = xcb_wait_for_event(connection_);
      if (!event) return;
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->type == protocols && message->data.data32[0] == deleteWindow) {
          xcb_destroy_window(connection_, message->window);
          std::erase(windows, message->window);
          xcb_flush(connection_);
        }
      }
      std::free(event);
    }
  }

 private:
  static std::string hostname() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
  }

  xcb_connection_t* connection_;
};

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: %s [--class CLASS] [--instance NAME] [--gtk-id ID] [TITLE...]\n",
                 argv[0]);
    return 2;
  }
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "%s: cannot open the display\n", argv[0]);
    xcb_disconnect(connection);
    return 1;
  }
  auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);

  Client client(connection);
  std::vector<xcb_window_t> windows;
  for (const auto& title : options->titles) {
    windows.push_back(
        client.open(*screens.data, *options, title, static_cast<int>(windows.size())));
  }
  xcb_flush(connection);
  client.run(std::move(windows));
  xcb_disconnect(connection);
  return 0;
}
