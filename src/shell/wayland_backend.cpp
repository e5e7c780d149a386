// Wiring the Wayland services together.
#include "shell/wayland_backend.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdlib>

#include "backends/sway/compositor_lines.h"
#include "backends/sway/trigger_bindings.h"
#include "backends/system/user_paths.h"
#include "backends/wayland/kwin_session.h"
#include "backends/wayland/sway_session.h"
#include "backends/wayland/wayland_keys.h"

namespace tolvane::shell {

std::unique_ptr<WaylandBackend> WaylandBackend::create(
    const BundleInfo& bundle, std::string display, std::unique_ptr<wayland::CompositorLink> client,
    std::string& error) {
  if (!client || !client->toplevels()) {
    error = "the Wayland compositor offers no list of windows";
    return nullptr;
  }
  return std::unique_ptr<WaylandBackend>(
      new WaylandBackend(bundle, std::move(display), std::move(client)));
}

WaylandBackend::WaylandBackend(const BundleInfo& bundle, std::string display,
                               std::unique_ptr<wayland::CompositorLink> client)
    : common_(bundle),
      display_(std::move(display)),
      client_(std::move(client)),
      session_(openSession()),
      overlay_(*client_, [this] { return screens_.mainOutput(); }),
      desktop_(*client_->toplevels(), common_.runLoop(), swayHooks(),
               {.ownAppId = bundle.identifier, .ownPid = static_cast<Pid>(::getpid())}),
      screens_([this] { return outputAreas(); }, [this] { return desktop_.focusedOutput(); }),
      tap_(
          session_->switcherBindings(), overlay_.keyboard(), common_.runLoop(),
          [this] { return triggerCombinations(); },
          [this](std::string_view line) { common_.log().log(line); }),
      hotKeys_(session_->paletteBindings()),
      triggers_(tap_, hotKeys_),
      panel_(overlay_.canvas(),
             qt::AppIcons([this](const std::string& id) { return desktop_.iconPNG(id); }),
             [this] { common_.log().log("wayland: overlay shown hud"); }),
      keyMonitor_([](std::uint32_t keycode, std::uint32_t state, std::uint32_t keysym) {
        return wayland::keyDownOf(keycode, state, keysym);
      }),
      palettePanel_(
          overlay_.canvas(),
          qt::AppIcons([this](const std::string& id) { return desktop_.iconPNG(id); }),
          [this](const KeyEvent& key) { return keyMonitor_.offer(key); },
          [this] { common_.log().log("wayland: overlay shown palette"); }) {
  desktop_.setUntrustedExplanation([this] { return client_->withdrawnText(); });
  desktop_.setFocusObserver([this](wayland::ToplevelId window) { focusChanged(window); });
  session_->feed(triggers_, [this] { desktop_.swayTreeChanged(); });
  if (session_->eventFd() >= 0) {
    sessionNotifier_ =
        std::make_unique<QSocketNotifier>(session_->eventFd(), QSocketNotifier::Read);
    QObject::connect(sessionNotifier_.get(), &QSocketNotifier::activated, [this] {
      session_->readEvents();
      if (session_->eventFd() < 0) sessionNotifier_.reset();
    });
  }
  waylandNotifier_ = std::make_unique<QSocketNotifier>(client_->fd(), QSocketNotifier::Read);
  QObject::connect(waylandNotifier_.get(), &QSocketNotifier::activated,
                   [this] { dispatchWayland(); });
  common_.connectIcons([this](const std::string& id) { return desktop_.iconPNG(id); });
  desktop_.addObserver(WorkspaceEvent::launched, [](const RunningApp& app) {
    if (app.bundleID) qt::AppIcons::applicationLaunched(*app.bundleID);
  });
  services_ =
      common_.services(bundle, {&desktop_, &desktop_, &desktop_, &desktop_, &tap_, &hotKeys_,
                                &screens_, &panel_, &palettePanel_, &keyMonitor_});
  if (auto* menu = client_->statusItem()) services_.statusItem = menu;
}

WaylandBackend::~WaylandBackend() {
  quitting();
}

std::unique_ptr<wayland::CompositorSession> WaylandBackend::openSession() {
  const auto log = [this](std::string_view line) { common_.log().log(line); };
  if (auto own = client_->makeSession(common_.runLoop(), log)) return own;
  if (client_->hasPlasmaWindows()) {
    std::string problem;
    const auto folder = system::currentRuntimeFolder(problem);
    if (folder) return std::make_unique<wayland::KWinSession>(common_.runLoop(), log, *folder);
    log("kwin: no private folder for the script: " + problem);
  }
  auto sway = std::make_unique<wayland::SwaySession>(common_.runLoop(), log);
  sway_ = sway.get();
  return sway;
}

wayland::WaylandDesktop::Sway WaylandBackend::swayHooks() {
  if (!sway_ || !sway_->connected()) return {};
  return {.views = [this] { return sway_->views(); },
          .focusByCon = [this](std::int64_t con) { return sway_->focus(con); }};
}

void WaylandBackend::dispatchWayland() {
  // A trigger the compositor sent before the events now waiting (a second Tab pressed before
  // the session's surface had the keyboard) belongs before them: read first, it joins the
  // session rather than starting another once the keyboard's enter has ended that one.
  if (session_->eventFd() >= 0) session_->readEvents();
  if (client_->dispatch()) return;
  compositorLost();
}

void WaylandBackend::compositorLost() {
  waylandNotifier_.reset();
  common_.log().log("wayland: the compositor connection ended: " + client_->failure());
  // The entry point's exit handler says it once on standard error.
  QCoreApplication::exit(1);
}

void WaylandBackend::launched() {
  // Once the log reaches its readers (standard error with --verbose): what the link said while
  // Tolvane started comes now.
  client_->setLog([this](std::string_view line) { common_.log().log(line); });
  if (!session_->connected()) {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    common_.log().notice(sway::manualBindingsNotice(desktop ? desktop : ""));
  }
}

void WaylandBackend::quitting() {
  // Whatever the application did or did not tear down, nothing of ours stays bound.
  session_->removeBindings();
  overlay_.keyboard().release();
  client_->flush();
}

bool WaylandBackend::isUsable(std::string& problem) const {
  if (desktop_.isProcessTrusted()) return true;
  problem = client_->withdrawnText();
  return false;
}

void WaylandBackend::setFocusObserver(std::function<void(std::uint32_t)> observer) {
  focusObserver_ = std::move(observer);
}

void WaylandBackend::focusChanged(wayland::ToplevelId window) {
  // The log names the application, so that a reader (and the desktop tests) can tell which
  // focus change Tolvane has taken in.
  for (const auto& toplevel : client_->toplevels()->toplevels()) {
    if (toplevel.id == window) common_.log().log("wayland: activated app_id=" + toplevel.appId);
  }
  if (focusObserver_) focusObserver_(static_cast<std::uint32_t>(window));
}

std::vector<sway::Binding> WaylandBackend::triggerCombinations() const {
  if (!settings_) return {};
  return sway::triggerBindings({.interceptTab = settings_->interceptCmdTab(),
                                .interceptKeyAboveTab = settings_->interceptAppCycle(),
                                .triggerIsOption = settings_->switcherUsesOption()});
}

std::vector<wayland::OutputArea> WaylandBackend::outputAreas() const {
  std::vector<wayland::OutputArea> areas;
  for (const auto& output : client_->outputs()) {
    areas.push_back(
        {output.name, Rect{static_cast<double>(output.x), static_cast<double>(output.y),
                           static_cast<double>(output.width), static_cast<double>(output.height)}});
  }
  return areas;
}

}  // namespace tolvane::shell
