// xdotool runs, grab probes, screenshots and openbox configurations for the desktop tests.
#include "support/x11/desktop_tools.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace tolvane::test {

using x11::Reply;

bool xdotool(XSession& session, std::vector<std::string> args) {
  args.insert(args.begin(), "xdotool");
  ChildProcess tool(args, {{"DISPLAY", session.display()}});
  return tool.started() && session.waitUntil([&] { return tool.ended(); }, {tool.source()});
}

std::uint8_t grabKeyError(XSession& session, xcb_keycode_t keycode, std::uint16_t modifiers) {
  xcb_connection_t* c = session.xcb();
  Reply<xcb_generic_error_t> error(
      xcb_request_check(c, xcb_grab_key_checked(c, 1, session.root(), modifiers, keycode,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
  return error ? error->error_code : 0;
}

bool comboIsFree(XSession& session, xcb_keycode_t keycode, std::uint16_t modifiers) {
  const bool free = grabKeyError(session, keycode, modifiers) == 0;
  if (free) xcb_ungrab_key(session.xcb(), keycode, session.root(), modifiers);
  session.sync();
  return free;
}

std::uint8_t grabKeyboardStatus(XSession& session, bool keep) {
  xcb_connection_t* c = session.xcb();
  Reply<xcb_grab_keyboard_reply_t> reply(
      xcb_grab_keyboard_reply(c,
                              xcb_grab_keyboard(c, 0, session.root(), XCB_CURRENT_TIME,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                              nullptr));
  const std::uint8_t status = reply ? reply->status : 0xff;
  if (status == XCB_GRAB_STATUS_SUCCESS && !keep) {
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    session.sync();
  }
  return status;
}

namespace {

/// Pictures taken and not yet converted.
std::vector<std::string>& pendingPictures() {
  static std::vector<std::string> paths;
  return paths;
}

}  // namespace

void saveScreenshot(XSession& session, const std::string& name) {
  const char* folder = std::getenv("TOLVANE_TEST_ARTIFACTS");
  const std::string path = std::string(folder ? folder : ".") + "/" + name;
  // One GetImage request, never a grab of the server (as ImageMagick's import takes): a grab
  // stalls every client, and a Tolvane stalled past its watchdog lets go of its session.
  xcb_connection_t* c = session.xcb();
  Reply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(c, xcb_get_geometry(c, session.root()), nullptr));
  Reply<xcb_get_image_reply_t> image(
      geometry ? xcb_get_image_reply(c,
                                     xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, session.root(), 0,
                                                   0, geometry->width, geometry->height, ~0u),
                                     nullptr)
               : nullptr);
  if (image) {
    // 32 bits per pixel, blue first, as a PPM; convertScreenshots() makes the picture asked for
    // once the test is done, rather than compete with Tolvane for the processor meanwhile.
    std::ofstream out(path + ".ppm", std::ios::binary);
    out << "P6\n" << geometry->width << " " << geometry->height << "\n255\n";
    const std::uint8_t* data = xcb_get_image_data(image.get());
    for (int i = 0; i + 3 < xcb_get_image_data_length(image.get()); i += 4) {
      out.put(static_cast<char>(data[i + 2])).put(static_cast<char>(data[i + 1]));
      out.put(static_cast<char>(data[i]));
    }
  }
  pendingPictures().push_back(path);
}

void convertScreenshots() {
  for (const auto& path : pendingPictures()) {
    std::system(("convert " + path + ".ppm " + path + " && rm " + path + ".ppm").c_str());
    std::printf("screenshot: %s\n", path.c_str());
  }
  pendingPictures().clear();
}

std::vector<xcb_window_t> windowsTitled(XSession& session, pid_t pid, const std::string& title) {
  std::vector<xcb_window_t> found;
  for (xcb_window_t window : session.clientsOf(pid)) {
    // _NET_WM_NAME (UTF-8) where the window has one, else WM_NAME.
    for (const char* property : {"_NET_WM_NAME", "WM_NAME"}) {
      Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
          session.xcb(),
          xcb_get_property(session.xcb(), 0, window, session.atom(property), XCB_ATOM_ANY, 0, 1024),
          nullptr));
      const int length =
          reply && reply->format == 8 ? xcb_get_property_value_length(reply.get()) : 0;
      if (length == 0) continue;
      const auto* text = static_cast<const char*>(xcb_get_property_value(reply.get()));
      if (std::string_view(text, length) == title) found.push_back(window);
      break;
    }
  }
  return found;
}

bool freeAltSpaceFromOpenbox(XSession& session, const std::string& folder) {
  std::ifstream stock("/etc/xdg/openbox/rc.xml");
  std::stringstream text;
  text << stock.rdbuf();
  std::string config = text.str();
  const auto start = config.find("<keybind key=\"A-space\">");
  if (start == std::string::npos) return false;
  const std::string end = "</keybind>";
  config.erase(start, config.find(end, start) + end.size() - start);
  const std::string path = folder + "/rc.xml";
  if (!(std::ofstream(path) << config)) return false;
  session.setWindowManagerArguments({"--config-file", path});
  return true;
}

}  // namespace tolvane::test
