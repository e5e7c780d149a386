// Starting, driving, watching and ending the private virtual KWin.
#include "desktops/kwin/support/kwin_session.h"

#include "desktops/driver/step_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace tolvane::test {

namespace {

namespace fs = std::filesystem;
constexpr const char* kKwin = "org.kde.KWin";
constexpr const char* kScripting = "org.kde.kwin.Scripting";
constexpr const char* kHighlight = "org.kde.KWin.HighlightWindow";
/// Its name is taken once the effects have loaded, after the scripting: the last of KWin's
/// start that the tests use.
constexpr const char* kScreenShot = "org.kde.KWin.ScreenShot2";
/// Larger screenshots than this are no screenshot of the 1280x800 output.
constexpr std::uint32_t kMaxSide = 8192;

/// A script's test of a window `w` for "app" or "app:title".
std::string matches(const std::string& window) {
  const auto colon = window.find(':');
  const std::string app = "w.resourceClass == '" + window.substr(0, colon) + "'";
  if (colon == std::string::npos) return app;
  return app + " && w.caption == '" + window.substr(colon + 1) + "'";
}

}  // namespace

// A script that runs `action` on each window `w` the name matches (KWin 5's clients, KWin 6's
/// windows).
std::string onEach(const std::string& window, const std::string& action) {
  return "const all = workspace.windowList ? workspace.windowList() : workspace.clientList();\n"
         "for (const w of all) if (" +
         matches(window) + ") { " + action + " }\n";
}

void KwinSession::writeEntries(const std::vector<Trusted>& trusted) {
  const std::string folder = home_.path() + "/share/applications";
  fs::create_directories(folder);
  for (std::size_t i = 0; i < trusted.size(); ++i) {
    std::ofstream(folder + "/tolvane-test-trusted-" + std::to_string(i) + ".desktop")
        << "[Desktop Entry]\nType=Application\nName=Trusted " << i
        << "\nNoDisplay=true\nExec=" << trusted[i].executable
        << "\nX-KDE-Wayland-Interfaces=" << trusted[i].waylandInterfaces
        << "\nX-KDE-DBUS-Restricted-Interfaces=" << trusted[i].dbusInterfaces << "\n";
  }
  for (const auto& entry : fs::recursive_directory_iterator(home_.path() + "/share")) {
    fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
  }
}

bool KwinSession::start(bool liftChecks, const std::vector<Trusted>& trusted) {
  if (home_.path().empty() || !bus_.start(home_.path())) {
    error_ = bus_.error();
    return false;
  }
  const std::string dir = folder("kwin"), copy = dir + "/tolvane-test-kwin_wayland";
  runtime_ = folder("run");
  wayland_ = dir + "/wayland-0";
  // The installed kwin_wayland carries a file capability that this machine will not grant at
  // exec; a copy carries none, and KWin loads its own Qt platform only under a name ending so.
  std::error_code failed;
  fs::copy_file("/usr/bin/kwin_wayland", copy, failed);
  if (failed || !giveToNobody(dir)) {
    error_ = "cannot prepare KWin's folder: " + failed.message();
    return false;
  }
  // The key tool types and the test takes pictures whether or not the checks are lifted.
  std::vector<Trusted> all{{fakeKeys_, "org_kde_kwin_fake_input", ""},
                           {fs::read_symlink("/proc/self/exe"), "", kScreenShot}};
  all.insert(all.end(), trusted.begin(), trusted.end());
  writeEntries(all);
  // KWin (nobody) serves clients run as root, and must see them as the user's own: it reads
  // which executable a client runs (CAP_SYS_PTRACE), which both its checks and the lifting of
  // them need, an unknown client getting no restricted global; and it reads the files clients
  // hand it, as scripts in their private folders (CAP_DAC_READ_SEARCH).
  Steps command{"HOME=" + dir, "XDG_RUNTIME_DIR=" + dir,
                "DBUS_SESSION_BUS_ADDRESS=" + bus_.address(),
                "XDG_DATA_DIRS=" + home_.path() + "/share:/usr/local/share:/usr/share"};
  if (liftChecks) {
    command = command + Steps{"KWIN_WAYLAND_NO_PERMISSION_CHECKS=1",
                              "KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1"};
  }
  startAsNobody(
      {}, "--inh-caps=+sys_ptrace,+dac_read_search --ambient-caps=+sys_ptrace,+dac_read_search",
      command + words(copy + " --virtual --no-lockscreen --width 1280 --height 800 "
                             "--socket wayland-0"));
  // The bus is new and the names watched since before KWin ran: their taking cannot be missed.
  // The window highlight is an effect both KWin 5 and 6 load once scripting runs; screenshots
  // need OpenGL, which KWin 6 has only with a render node (see screenshot()).
  const auto ready = [&] { return bus_.owned(kHighlight) || compositor_->ended(); };
  if (!waitWith(ready) || compositor_->ended() || !fs::exists(wayland_) || !ping()) {
    error_ = "KWin did not start: " + bus_.error() + "\n" + said();
    return false;
  }
  return true;
}

bool KwinSession::runOnEach(const std::string& window, const std::string& action) {
  return runScript(onEach(window, action));
}

bool KwinSession::focus(const std::string& window) {
  return runOnEach(window,
                   "if ('activeWindow' in workspace) workspace.activeWindow = w; "
                   "else workspace.activeClient = w;");
}

bool KwinSession::close(const std::string& window) {
  return runOnEach(window, "w.closeWindow();");
}

std::optional<bool> KwinSession::scriptLoaded(const std::string& name) {
  int loaded = 0;
  const auto reply =
      bus_.call(kKwin, "/Scripting", kScripting, "isScriptLoaded", "s", name.c_str());
  if (!reply || sd_bus_message_read(reply.get(), "b", &loaded) < 0) return std::nullopt;
  return loaded != 0;
}

bool KwinSession::runScript(const std::string& js, bool keep) {
  const std::string name = "tolvane-test-" + std::to_string(++scripts_);
  const std::string path = home_.path() + "/" + name + ".js";
  std::ofstream(path) << js;
  chmod(path.c_str(), 0644);
  std::int32_t id = -1;
  const auto loaded =
      bus_.call(kKwin, "/Scripting", kScripting, "loadScript", "ss", path.c_str(), name.c_str());
  if (!loaded || sd_bus_message_read(loaded.get(), "i", &id) < 0 || id < 0) return false;
  // KWin 5 puts the script at /<id>, KWin 6 at /Scripting/Script<id>; the run's answer comes
  // once the script has been evaluated.
  const bool ran =
      bus_.call(kKwin, "/" + std::to_string(id), "org.kde.kwin.Script", "run", "") ||
      bus_.call(kKwin, "/Scripting/Script" + std::to_string(id), "org.kde.kwin.Script", "run", "");
  return ran &&
         (keep || bus_.call(kKwin, "/Scripting", kScripting, "unloadScript", "s", name.c_str()));
}

std::optional<Picture> KwinSession::screenshot(const std::string& name) {
  if (!waitWith([&] { return bus_.owned(kScreenShot); })) return std::nullopt;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  auto reply = bus_.call(kKwin, "/org/kde/KWin/ScreenShot2", kScreenShot, "CaptureWorkspace",
                         "a{sv}h", 0, ends[1]);
  ::close(ends[1]);
  std::uint32_t width = 0, height = 0, stride = 0, format = 0;
  const char* key = nullptr;
  int r = reply ? sd_bus_message_enter_container(reply.get(), 'a', "{sv}") : -1;
  while (r > 0 && (r = sd_bus_message_enter_container(reply.get(), 'e', "sv")) > 0) {
    sd_bus_message_read(reply.get(), "s", &key);
    const std::string field = key ? key : "";
    std::uint32_t* into = field == "width"    ? &width
                          : field == "height" ? &height
                          : field == "stride" ? &stride
                          : field == "format" ? &format
                                              : nullptr;
    if (!into || sd_bus_message_read(reply.get(), "v", "u", into) < 0) {
      sd_bus_message_skip(reply.get(), "v");
    }
    sd_bus_message_exit_container(reply.get());
  }
  // KWin writes the pixels from a thread of its own after the answer, and closes the pipe.
  std::string raw;
  const std::size_t bytes = std::size_t(stride) * height;
  const Source read{
      ends[0], [&] {
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(ends[0], buffer, sizeof buffer)) > 0 && raw.size() < bytes) {
          raw.append(buffer, std::size_t(n));
        }
        return n != 0;
      }};
  const bool whole = bytes > 0 && stride <= kMaxSide * 4 && height <= kMaxSide &&
                     waitOn([&] { return raw.size() >= bytes; }, {read}, kBound);
  ::close(ends[0]);
  raw.resize(std::min(raw.size(), bytes));
  // QImage's RGB32 and ARGB32 formats (4 to 6) are 0xAARRGGBB words, BGRA in memory; its
  // RGBX8888 and RGBA8888 formats (16 to 18) are RGBA bytes.
  const std::string layout = format >= 4 && format <= 6     ? "bgra:"
                             : format >= 16 && format <= 18 ? "rgba:"
                                                            : "";
  const std::string kept = home_.path() + "/" + name,
                    size = std::to_string(width) + "x" + std::to_string(height);
  if (!whole || layout.empty() || stride != width * 4 ||
      !(std::ofstream(kept + ".raw", std::ios::binary) << raw) ||
      !run({"convert", "-size", size, "-depth", "8", layout + kept + ".raw", "-alpha", "off",
            "-write", keptPicture(name), "ppm:" + kept + ".ppm"})) {
    return std::nullopt;
  }
  return readPpm(kept + ".ppm");
}

}  // namespace tolvane::test
