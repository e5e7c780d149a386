// The link's parts and the bus's news, routed.
//
//   the bus says               | the link does
//   ---------------------------+----------------------------------------------------------------
//   extension enabled          | registers, reads the monitors and the windows (lent again), binds
//                              | the combinations again
//   extension gone, Shell gone | every window closed and the list withdrawn, the session's grab
//                              | lost; said once in the log
//   Triggered                  | the overlay is offered the grab, then the trigger word fires
//   Key, GrabEnded, Clicked    | the overlay
//   WindowChanged, …Closed     | the windows
//   MonitorsChanged            | the monitors read again
//   MenuOpening, …Activated    | the status item (an entry's action after the call's answer)
#include "backends/gnome/gnome_link.h"

#include <poll.h>

#include <cmath>

#include "backends/gnome/gnome_overlay.h"
#include "backends/gnome/gnome_session.h"
#include "base/run_loop.h"

namespace tolvane::gnome {

namespace {

constexpr int kEnabled = 1, kDisabled = 2, kInitialized = 6;
/// How long a start waits for the Shell to enable the extension it was asked to.
constexpr double kEnableSeconds = 2;

}  // namespace

std::unique_ptr<GnomeLink> GnomeLink::connect(std::string& error) {
  auto bus = ShellBus::connect(error);
  if (!bus) return nullptr;
  std::unique_ptr<GnomeLink> link(new GnomeLink(std::move(bus)));
  if (!link->bus_->shellRuns()) return nullptr;
  link->arrive();
  return link;
}

GnomeLink::GnomeLink(std::unique_ptr<ShellBus> bus)
    : bus_(std::move(bus)),
      windows_(*bus_),
      statusItem_(
          [this](const std::string& json) {
            if (present_) bus_->setMenu(json);
          },
          [this] { return present_; }) {
  bus_->serve({
      .triggered =
          [this](std::string_view word, std::uint32_t serial, std::uint32_t modifiers,
                 std::int64_t) {
            if (!overlay_ || !session_) return bus_->release("unused");
            overlay_->deliverPending();
            overlay_->triggered(serial, modifiers);
            session_->triggered(word);
            overlay_->triggerHandled();
          },
      .key =
          [this](const ShellKey& key) {
            if (overlay_) overlay_->key(key);
          },
      .grabEnded =
          [this](std::uint32_t serial, std::string_view why) {
            if (overlay_) overlay_->grabEnded(serial, why);
          },
      .windowChanged = [this](const ShellWindow& window) { windows_.changed(window); },
      .windowClosed = [this](std::uint64_t id) { windows_.closed(id); },
      .monitorsChanged = [this] { readMonitors(); },
      .clicked =
          [this](double x, double y) {
            if (overlay_) overlay_->clicked(x, y);
          },
      .panelShown = [this] { log("gnome: the panel is on screen"); },
      .menuActivated =
          [this](std::string_view id) {
            auto run = [this, id = std::string(id)] { statusItem_.activated(id); };
            if (!loop_) return run();
            loop_->post(std::move(run));
          },
      .menuOpening = [this] { statusItem_.opening(); },
      .menuClosed = [this] { statusItem_.closed(); },
      .presence = [this](bool present) { presence(present); },
  });
}

GnomeLink::~GnomeLink() = default;

void GnomeLink::setLog(Log log) {
  log_ = std::move(log);
  for (const auto& line : std::exchange(early_, {})) log_(line);
}

void GnomeLink::log(std::string_view line) {
  if (log_) return log_(line);
  if (early_.size() < 16) early_.emplace_back(line);
}

void GnomeLink::arrive() {
  stateError_.clear();
  state_ = bus_->extensionState(&stateError_);
  if (state_ == kDisabled || state_ == kInitialized) {
    log("gnome: the Tolvane extension is off; asking GNOME Shell to enable it");
    // Tolvane starts with its windows rather than with the onboarding's page for a moment.
    if (bus_->enableExtension() && bus_->awaitEnabled(kEnableSeconds)) {
      state_ = bus_->extensionState(&stateError_);
    }
  }
  if (state_ != kEnabled || !bus_->registerWithExtension()) {
    log("gnome: " + absenceText());
    return;
  }
  present_ = true;
  readMonitors();
  const auto windows = bus_->windows();
  windows_.lend(windows.value_or(std::vector<ShellWindow>{}));
  if (session_) session_->bindAgain();
  statusItem_.sendAgain();
  log("gnome: the extension lends Tolvane the windows and the keys");
}

void GnomeLink::presence(bool present) {
  if (present && !present_) return arrive();
  if (present || !present_) return;
  present_ = false;
  log("gnome: the extension went away (GNOME Shell restarting, or the extension disabled); "
      "waiting for it to come back");
  if (overlay_) overlay_->extensionGone();
  windows_.withdraw();
}

void GnomeLink::readMonitors() {
  const auto monitors = bus_->monitors();
  if (!monitors) return;
  std::vector<wayland::OutputInfo> outputs;
  for (std::size_t i = 0; i < monitors->size(); ++i) {
    const auto& m = (*monitors)[i];
    outputs.push_back({std::to_string(i), m.x, m.y, m.width, m.height, m.scale});
  }
  outputs_ = std::move(outputs);
}

std::string GnomeLink::absenceText() const {
  if (!state_) {
    return "GNOME Shell has not loaded Tolvane's extension (tolvane@brenmoor.com): log out and "
           "in again after installing Tolvane, and Tolvane starts working by itself";
  }
  std::string text = "GNOME Shell did not enable Tolvane's extension (tolvane@brenmoor.com)";
  if (!stateError_.empty()) text += ": " + stateError_;
  return text + "; turn it on in the Extensions application";
}

bool GnomeLink::dispatch() {
  if (bus_->process()) return true;
  failed_ = true;
  return false;
}

bool GnomeLink::hungUp(double waitSeconds) const {
  pollfd polled{bus_->fd(), 0, 0};
  const int timeout = static_cast<int>(std::lround(waitSeconds * 1000));
  return ::poll(&polled, 1, timeout) > 0 && (polled.revents & (POLLHUP | POLLERR));
}

std::unique_ptr<wayland::OverlayHost> GnomeLink::makeOverlay() {
  auto overlay = std::make_unique<GnomeOverlay>(
      *bus_,
      [this](int monitor) {
        return monitor >= 0 && monitor < static_cast<int>(outputs_.size()) ? outputs_[monitor].scale
                                                                           : 1;
      },
      [this](std::string_view line) { log(line); });
  overlay_ = overlay.get();
  overlay->setOnDestroy([this] { overlay_ = nullptr; });
  return overlay;
}

std::unique_ptr<wayland::CompositorSession> GnomeLink::makeSession(RunLoop& loop, Log log) {
  loop_ = &loop;
  auto session = std::make_unique<GnomeSession>(*bus_, std::move(log), [this] { return present_; });
  session_ = session.get();
  session->setOnDestroy([this] { session_ = nullptr; });
  return session;
}

}  // namespace tolvane::gnome
