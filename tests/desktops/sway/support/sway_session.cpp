// Starting, driving, watching and ending the private headless sway.
#include "desktops/sway/support/sway_session.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace tolvane::test {

namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;
// One event of the stream: a window event carries the whole container.
constexpr std::size_t kMaxLine = 1 << 20;

std::string windowOf(const Json& container) {
  const auto text = [&](const char* key) {
    const auto it = container.find(key);
    return it != container.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  return text("app_id") + ":" + text("name");
}

/// sway's criteria for "app" or "app:title".
std::string criteria(const std::string& window) {
  const auto colon = window.find(':');
  if (colon == std::string::npos) return "[app_id=\"^" + window + "$\"]";
  return "[app_id=\"^" + window.substr(0, colon) + "$\" title=\"^" + window.substr(colon + 1) +
         "$\"]";
}

}  // namespace

bool SwaySession::focus(const std::string& window) {
  return msg({criteria(window) + " focus"}).has_value();
}

bool SwaySession::close(const std::string& window) {
  return msg({criteria(window) + " kill"}).has_value();
}

SwaySession::~SwaySession() {
  clients_.clear();
  keeper_.reset();
  events_.reset();
  if (eventsFd_ >= 0) ::close(eventsFd_);
}

bool SwaySession::start() {
  if (home_.path().empty() || !startSway() || !startEvents()) return false;
  // While no keyboard is left, the seat loses its keyboard, and each wtype that brings one back
  // races its clients' binding of a new wl_keyboard: its first keys went missing (sway 1.7).
  // One keyboard living as long as the session keeps the seat's, so every key typed arrives.
  keeper_ = std::make_unique<ChildProcess>(std::vector<std::string>{"wtype", "-s", "86400000"},
                                           clientEnvironment());
  if (!waitWith([&] { return keyboards_ > 0; })) {
    error_ = "the session's keyboard never showed in sway's input events";
    return false;
  }
  return true;
}

bool SwaySession::startSway() {
  // sway runs as nobody and needs its own folder; the clients, as root, have their own.
  const std::string dir = folder("sway");
  runtime_ = folder("run");
  if (!giveToNobody(dir)) {
    error_ = "no user nobody to run sway as";
    return false;
  }
  std::ofstream(dir + "/conf") << "output HEADLESS-1 resolution 1280x800\n";
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  inotify_add_watch(watch, dir.c_str(), IN_CREATE | IN_MOVED_TO);
  startAsNobody({}, "",
                {"HOME=" + dir, "XDG_RUNTIME_DIR=" + dir, "WLR_BACKENDS=headless",
                 "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1", "sway", "-c", dir + "/conf"});
  // sway makes the IPC socket after the Wayland one: with both there, both listen.
  const auto ready = [&] {
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string name = entry.path().filename();
      if (name.starts_with("sway-ipc.") && name.ends_with(".sock")) socket_ = entry.path();
    }
    wayland_ = fs::exists(dir + "/wayland-1") ? dir + "/wayland-1" : "";
    return (!socket_.empty() && !wayland_.empty()) || compositor_->ended();
  };
  const Source created{watch, [watch] {
                         char buffer[4096];
                         while (read(watch, buffer, sizeof buffer) > 0) {
                         }
                         return true;
                       }};
  const bool up = waitWith(ready, {created});
  ::close(watch);
  if (!up || compositor_->ended()) error_ = "sway did not start: " + said();
  return error_.empty();
}

Environment SwaySession::clientEnvironment() const {
  return {{"WAYLAND_DISPLAY", wayland_},
          {"SWAYSOCK", socket_},
          {"XDG_RUNTIME_DIR", runtime_},
          {"DISPLAY", ""}};
}

bool SwaySession::startEvents() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  eventsFd_ = ends[0];
  fcntl(eventsFd_, F_SETFL, O_NONBLOCK);
  events_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"swaymsg", "-r", "-m", "-t", "subscribe",
                               R"(["window","binding","input","tick"])"},
      clientEnvironment(), ends[1]);
  ::close(ends[1]);
  // Subscribing to ticks brings one at once: from then on no event is missed.
  if (!waitWith([&] { return ticks_ > 0 || events_->ended(); }) || ticks_ == 0) {
    error_ = "sway's event stream did not start: " + said();
    return false;
  }
  return true;
}

std::vector<Source> SwaySession::sources() {
  std::vector<Source> all = CompositorSession::sources();
  all.push_back({eventsFd_, [this] { return drainEvents(); }});
  return all;
}

bool SwaySession::drainEvents() {
  char buffer[65536];
  ssize_t n;
  while ((n = read(eventsFd_, buffer, sizeof buffer)) > 0) {
    pending_.append(buffer, static_cast<std::size_t>(n));
    for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
      handleEvent(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
    if (pending_.size() > kMaxLine) pending_.clear();
  }
  return n != 0;
}

bool SwaySession::handleEvent(const std::string& line) {
  const Json event = Json::parse(line, nullptr, false);
  if (!event.is_object()) return false;
  if (event.contains("container") && event["container"].is_object()) {
    const std::string change = event.value("change", "");
    const Json& container = event["container"];
    // A new window often has its title only in the event after.
    if (change == "new" || change == "title") mapped_.push_back(windowOf(container));
    if (change == "focus" || (change == "title" && container.value("focused", false))) {
      focused_ = windowOf(container);
    }
    if (change == "close" && focused_ == windowOf(container)) focused_.clear();
  } else if (event.contains("binding") && event["binding"].is_object()) {
    bindings_.push_back(event["binding"].value("command", ""));
  } else if (event.contains("input")) {
    ++(event.value("change", "") == "removed" ? keyboardsRemoved_ : keyboards_);
  } else if (event.contains("first")) {
    ++ticks_;
    const std::string payload = event.value("payload", "");
    if (payload.starts_with("sync-")) syncs_ = std::atoi(payload.c_str() + 5);
  }
  return true;
}

std::optional<std::string> SwaySession::msg(const std::vector<std::string>& args) {
  PipeText out;
  std::vector<std::string> argv{"swaymsg", "-r"};
  argv.insert(argv.end(), args.begin(), args.end());
  const int end = out.writeEnd();
  // The reply is read as it comes: a large one would fill the pipe before swaymsg ends.
  if (!run(argv, {out.source()}, end)) return std::nullopt;
  out.closeWriteEnd();
  out.source().drain();
  return out.text();
}

// The recording terminal copies what it is typed, without line editing or echo.
bool SwaySession::openWindow(const std::string& app, const std::string& title,
                             const std::string& record) {
  const Steps command = record.empty()
                            ? Steps{"cat"}
                            : Steps{"sh", "-c", "stty -icanon -echo min 1; exec cat > " + record};
  return openClient(Steps{"foot", "-a", app, "-T", title} + command, app + ":" + title);
}

bool SwaySession::openClient(const std::vector<std::string>& argv, const std::string& window) {
  clients_.push_back(std::make_unique<ChildProcess>(argv, clientEnvironment()));
  const auto shown = [&] {
    return std::find(mapped_.begin(), mapped_.end(), window) != mapped_.end() && focused_ == window;
  };
  return waitWith(shown);
}

bool SwaySession::sync(const std::vector<Source>& also) {
  const int mine = ++syncsSent_;
  if (!msg({"-t", "send_tick", "sync-" + std::to_string(mine)})) return false;
  return waitWith([&] { return syncs_ >= mine; }, also);
}

int SwaySession::bindingsRun(const std::string& text) const {
  return static_cast<int>(std::count_if(bindings_.begin(), bindings_.end(), [&](const auto& run) {
    return run.find(text) != std::string::npos;
  }));
}

bool SwaySession::dropKeptKeyboard(const std::vector<Source>& also) {
  const int removed = keyboardsRemoved_;
  keeper_.reset();
  return waitWith([&] { return keyboardsRemoved_ > removed; }, also);
}

std::optional<Picture> SwaySession::screenshot(const std::string& name) {
  const std::string raw = home_.path() + "/" + name + ".ppm";
  if (!run({"grim", "-t", "ppm", raw}) || !run({"grim", keptPicture(name)})) return std::nullopt;
  return readPpm(raw);
}

}  // namespace tolvane::test
