// Starting, driving, watching and ending the private headless GNOME Shell.
#include "desktops/gnome/support/gnome_session.h"

#include <systemd/sd-bus.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "desktops/driver/step_driver.h"

namespace tolvane::test {

namespace {

namespace fs = std::filesystem;
constexpr const char* kShell = "org.gnome.Shell";
constexpr const char* kScreenshot = "org.gnome.Shell.Screenshot";
constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
/// The harness's extension owns this name once the Shell has started and left its overview.
constexpr const char* kToolsReady = "com.brenmoor.TolvaneTestTools";
constexpr const char* kToolsUuid = "tolvane-test-tools@brenmoor.com";
/// Shift_L: pressed alone, it does nothing on GNOME.
constexpr std::uint32_t kHarmlessKeysym = 0xffe1;

/// `text` as a JavaScript string literal.
std::string jsString(const std::string& text) {
  std::string literal = "'";
  for (const char c : text) {
    if (c == '\\' || c == '\'') literal += '\\';
    literal += c;
  }
  return literal + "'";
}

/// A MetaWindow `w`'s test for "app" or "app:title"; a Wayland client's app id is its class.
std::string matches(const std::string& window) {
  const auto colon = window.find(':');
  const std::string app = "w.get_wm_class() === " + jsString(window.substr(0, colon));
  if (colon == std::string::npos) return app;
  return app + " && w.get_title() === " + jsString(window.substr(colon + 1));
}

/// The major version of the installed GNOME Shell ("GNOME Shell 48.7"), 0 when it says none.
int shellMajorVersion() {
  FILE* version = popen("gnome-shell --version 2>/dev/null", "r");
  if (!version) return 0;
  char line[128] = {};
  const bool read = std::fgets(line, sizeof line, version) != nullptr;
  pclose(version);
  int major = 0;
  return read && std::sscanf(line, "GNOME Shell %d", &major) == 1 ? major : 0;
}

}  // namespace

std::string extensionBuild(const std::string& builds, const std::string& uuid) {
  static const int major = shellMajorVersion();
  if (major == 0) return {};
  return builds + (major >= 45 ? "/module/" : "/legacy/") + uuid;
}

std::string onEachWindow(const std::string& window, const std::string& action) {
  return "let found = 0;\nfor (const w of global.display.list_all_windows()) if (" +
         matches(window) + ") { " + action + " found++; }\nfound";
}

bool GnomeSession::start(const std::vector<std::string>& extensionFolders,
                         const std::vector<std::string>& disabledFolders) {
  if (home_.path().empty()) return false;
  shellHome_ = folder("home");
  shellRuntime_ = folder("run");
  runtime_ = folder("clients");
  wayland_ = shellRuntime_ + "/wayland-gnome";
  return startBuses() && installExtensions(extensionFolders, disabledFolders) && startShell() &&
         holdKeyboard();
}

// The Shell will not start without a system bus, and dies some time after starting on a
// minimal one: it gets one with the machine's own policy, on a socket of its own and without the
// pid file that belongs to the machine's bus. That bus starts no system service: GNOME 48 waits
// for the accounts service at start, which never answers in a chroot, until the bus gives up
// after 25 s; a service helper that fails answers at once.
bool GnomeSession::startBuses() {
  const std::string config = home_.path() + "/system-bus.conf";
  std::ofstream(config) << "<busconfig>\n  <include>/usr/share/dbus-1/system.conf</include>\n"
                           "  <servicehelper>/bin/false</servicehelper>\n</busconfig>\n";
  systemAddress_ = startBusDaemon({"dbus-daemon", "--config-file=" + config,
                                   "--address=unix:path=" + home_.path() + "/system-bus",
                                   "--nofork", "--nopidfile", "--print-address=1"},
                                  systemOut_, systemBus_);
  if (!bus_.start(home_.path()) || systemAddress_.empty()) {
    error_ = "the buses did not start: " + bus_.error();
    return false;
  }
  return true;
}

// The user's extensions folder, and the settings that enable them, in a key file the Shell
// reads through GSettings' key file backend: nothing of the machine's user leaks in.
bool GnomeSession::installExtensions(const std::vector<std::string>& folders,
                                     const std::vector<std::string>& disabled) {
  const std::string installed = shellHome_ + "/.local/share/gnome-shell/extensions";
  fs::create_directories(installed);
  const std::string tools = extensionBuild(testExtensions_, kToolsUuid);
  if (tools.empty()) {
    error_ = "gnome-shell --version does not tell the Shell's version";
    return false;
  }
  std::error_code failed;
  fs::copy(tools, installed + "/" + kToolsUuid, fs::copy_options::recursive, failed);
  std::string enabled = "'" + std::string(kToolsUuid) + "'";
  for (auto folder = folders.begin(); !failed && folder != folders.end(); ++folder) {
    // Canonical, a folder named with a trailing slash still has its UUID as its name.
    const std::string uuid = fs::canonical(*folder, failed).filename();
    if (!failed) fs::copy(*folder, installed + "/" + uuid, fs::copy_options::recursive, failed);
    enabled += ", '" + uuid + "'";
  }
  for (auto folder = disabled.begin(); !failed && folder != disabled.end(); ++folder) {
    const std::string uuid = fs::canonical(*folder, failed).filename();
    if (!failed) fs::copy(*folder, installed + "/" + uuid, fs::copy_options::recursive, failed);
  }
  const std::string settings = shellHome_ + "/.config/glib-2.0/settings";
  fs::create_directories(settings);
  // A window fades in after it is activated, and notification banners come and go: without
  // animations and banners, a screenshot shows what the Shell has just been told.
  std::ofstream(settings + "/keyfile")
      << "[org/gnome/shell]\ndisable-user-extensions=false\nenabled-extensions=[" << enabled
      << "]\n\n[org/gnome/desktop/interface]\nenable-animations=false\n"
         "\n[org/gnome/desktop/notifications]\nshow-banners=false\n";
  if (failed || !giveToNobody(shellHome_) || !giveToNobody(shellRuntime_)) {
    error_ = "cannot install the extensions: " + failed.message();
    return false;
  }
  return true;
}

// Without logind, the Shell still waits for it where /run/systemd/seats exists, and dies: it
// runs in a mount namespace of its own over an empty /run/systemd. Its runtime folder is as
// fresh as the test, since a Shell that ended within a minute of its start leaves a mark there
// that disables the extensions at the next.
bool GnomeSession::startShell() {
  const std::string home = shellHome_;
  startAsNobody(
      {"unshare", "--mount", "--", "sh", "-c",
       "[ ! -d /run/systemd ] || mount -t tmpfs tmpfs /run/systemd || exit 1; exec \"$@\"", "sh"},
      "",
      {"LANG=C.UTF-8", "GSETTINGS_BACKEND=keyfile", "HOME=" + home,
       "XDG_CONFIG_HOME=" + home + "/.config", "XDG_DATA_HOME=" + home + "/.local/share",
       "XDG_CACHE_HOME=" + home + "/.cache", "XDG_STATE_HOME=" + home + "/.local/state",
       "XDG_RUNTIME_DIR=" + shellRuntime_, "DBUS_SESSION_BUS_ADDRESS=" + bus_.address(),
       "DBUS_SYSTEM_BUS_ADDRESS=" + systemAddress_, "gnome-shell", "--headless", "--wayland",
       "--no-x11", "--virtual-monitor", "1280x800", "--wayland-display",
       fs::path(wayland_).filename()});
  const auto ready = [&] {
    return (bus_.owned(kShell) && bus_.owned(kToolsReady)) || compositor_->ended();
  };
  if (!waitWith(ready) || compositor_->ended() || !fs::exists(wayland_)) {
    error_ = "GNOME Shell did not start:\n" + said();
    return false;
  }
  return true;
}

// The headless seat has a keyboard only while a virtual one exists, and a client binds its
// keyboard once the seat has one: the first key typed comes before any client could hear it.
// When the last virtual keyboard goes, with a key tool's end, that binding goes dead for good. A
// remote desktop session of the test's own keeps one keyboard for the whole run, its first key
// pressed before any window exists. It ends with the test's connection to the bus.
bool GnomeSession::holdKeyboard() {
  const auto created = bus_.call(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop,
                                 "CreateSession", "");
  const char* path = nullptr;
  if (!created || sd_bus_message_read(created.get(), "o", &path) < 0) {
    error_ = "no remote desktop session: " + bus_.error();
    return false;
  }
  const std::string session = path;
  const char* interface = "org.gnome.Mutter.RemoteDesktop.Session";
  if (!bus_.call(kRemoteDesktop, session, interface, "Start", "") ||
      !bus_.call(kRemoteDesktop, session, interface, "NotifyKeyboardKeysym", "ub", kHarmlessKeysym,
                 1) ||
      !bus_.call(kRemoteDesktop, session, interface, "NotifyKeyboardKeysym", "ub", kHarmlessKeysym,
                 0)) {
    error_ = "the remote desktop session did not start: " + bus_.error();
    return false;
  }
  return true;
}

bool GnomeSession::eval(const std::string& js, std::string* result) {
  const auto reply = bus_.call(kShell, "/org/gnome/Shell", kShell, "Eval", "s", js.c_str());
  int success = 0;
  const char* text = nullptr;
  if (!reply || sd_bus_message_read(reply.get(), "bs", &success, &text) < 0) return false;
  if (result) *result = text ? text : "";
  return success != 0;
}

bool GnomeSession::runOnEach(const std::string& window, const std::string& js) {
  std::string found;
  return eval(onEachWindow(window, js), &found) && found != "0";
}

bool GnomeSession::focus(const std::string& window) {
  return runOnEach(window, "Main.activateWindow(w);");
}

bool GnomeSession::close(const std::string& window) {
  return runOnEach(window, "w.delete(global.get_current_time());");
}

// The Shell (nobody) writes the picture into its own runtime folder; ImageMagick keeps it and
// makes the plain RGB the suites compare.
std::optional<Picture> GnomeSession::screenshot(const std::string& name) {
  const std::string shot = shellRuntime_ + "/" + name + ".png", plain = home_.path() + "/" + name;
  const auto reply = bus_.call(kScreenshot, "/org/gnome/Shell/Screenshot", kScreenshot,
                               "Screenshot", "bbs", 0, 0, shot.c_str());
  int success = 0;
  const char* used = nullptr;
  if (!reply || sd_bus_message_read(reply.get(), "bs", &success, &used) < 0 || !success) {
    error_ = "the Shell took no screenshot: " + (reply ? std::string("it said so") : bus_.error());
    return std::nullopt;
  }
  if (!run({"convert", shot, "-alpha", "off", "-write", keptPicture(name),
            "ppm:" + plain + ".ppm"})) {
    error_ = "convert made no picture of " + shot;
    return std::nullopt;
  }
  return readPpm(plain + ".ppm");
}

}  // namespace tolvane::test
