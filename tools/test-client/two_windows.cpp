// tolvane-test-client: one process, several titled normal windows, until it is killed.
//
//   tolvane-test-client [--class CLASS] [--instance NAME] [--gtk-id ID] [--count N] [TITLE...]
//
// Opens one window per TITLE, then N more titled "window 1" to "window N" (two windows when
// neither is given), all sharing this process's _NET_WM_PID, WM_CLIENT_MACHINE and WM_CLASS,
// so that a desktop sees them as one application. A window the window manager asks to close
// (WM_DELETE_WINDOW) goes away; the program ends with its last window or when the display does.
#include <unistd.h>
#include <xcb/xcb.h>

#include <charconv>
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

/// More windows than any desktop test or benchmark asks for: a typing slip must not flood the
/// display.
constexpr int kMaxCount = 10000;

struct Options {
  std::string instance = "tolvane-test-client";
  std::string windowClass = "TolvaneTestClient";
  std::string gtkApplicationID;
  std::vector<std::string> titles;
};

std::optional<int> parseCount(std::string_view text) {
  int count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (count < 0 || count > kMaxCount) return std::nullopt;
  return count;
}

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool takesValue =
        arg == "--class" || arg == "--instance" || arg == "--gtk-id" || arg == "--count";
    if (takesValue && i + 1 >= argc) return std::nullopt;
    if (arg == "--count") {
      const auto parsed = parseCount(argv[++i]);
      if (!parsed) return std::nullopt;
      count = *parsed;
    } else if (arg == "--class") {
      options.windowClass = argv[++i];
    } else if (arg == "--instance") {
      options.instance = argv[++i];
    } else if (arg == "--gtk-id") {
      options.gtkApplicationID = argv[++i];
    } else {
      options.titles.emplace_back(arg);
    }
  }
  for (int n = 1; n <= count; ++n) options.titles.push_back("window " + std::to_string(n));
  if (options.titles.empty()) options.titles = {"first window", "second window"};
  return options;
}

class Client {
 public:
  explicit Client(xcb_connection_t* connection)
      : connection_(connection),
        netWmName_(atom("_NET_WM_NAME")),
        utf8String_(atom("UTF8_STRING")),
        netWmPid_(atom("_NET_WM_PID")),
        windowType_(atom("_NET_WM_WINDOW_TYPE")),
        typeNormal_(atom("_NET_WM_WINDOW_TYPE_NORMAL")),
        protocols_(atom("WM_PROTOCOLS")),
        deleteWindow_(atom("WM_DELETE_WINDOW")),
        gtkApplicationID_(atom("_GTK_APPLICATION_ID")),
        hostname_(hostname()) {}

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
    // A cascade that starts over every ten windows, so that hundreds stay on the screen.
    const auto offset = static_cast<std::int16_t>(40 + 60 * (index % 10));
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen.root, offset, offset, 400,
                      300, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    // WM_CLASS is two NUL-terminated strings: the instance, then the class.
    const std::string wmClass = options.instance + '\0' + options.windowClass + '\0';
    setBytes(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
    setBytes(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title);
    setBytes(window, netWmName_, utf8String_, title);
    setBytes(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, hostname_);
    setValues(window, netWmPid_, XCB_ATOM_CARDINAL, {static_cast<std::uint32_t>(getpid())});
    setValues(window, windowType_, XCB_ATOM_ATOM, {typeNormal_});
    setValues(window, protocols_, XCB_ATOM_ATOM, {deleteWindow_});
    if (!options.gtkApplicationID.empty()) {
      setBytes(window, gtkApplicationID_, utf8String_, options.gtkApplicationID);
    }
    xcb_map_window(connection_, window);
    return window;
  }

  /// Serves close requests until no window is left or the display goes away.
  void run(std::vector<xcb_window_t> windows) {
    while (!windows.empty()) {
      xcb_generic_event_t* event = xcb_wait_for_event(connection_);
      if (!event) return;
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->type == protocols_ && message->data.data32[0] == deleteWindow_) {
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
  const xcb_atom_t netWmName_, utf8String_, netWmPid_, windowType_, typeNormal_, protocols_,
      deleteWindow_, gtkApplicationID_;
  const std::string hostname_;
};

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: %s [--class CLASS] [--instance NAME] [--gtk-id ID] [--count N] "
                 "[TITLE...]\n",
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
