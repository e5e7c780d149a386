// Wiring the X11 services together.
#include "shell/x11_backend.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include "backends/system/continue_signal.h"
#include "backends/x11/x11_display_hints.h"

namespace tolvane::shell {

std::unique_ptr<X11Backend> X11Backend::create(const BundleInfo& bundle, const std::string& display,
                                               std::string& error) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) {
    error = "Tolvane needs an X11 display (DISPLAY is not set, or Qt runs without xcb)";
    return nullptr;
  }
  // Qt reads this connection; the services only send requests on it and take the events Qt
  // hands over through the native event filter.
  auto connection = x11::Connection::borrow(x11->connection());
  if (!connection) {
    error = "the X11 connection is not usable";
    return nullptr;
  }
  return std::unique_ptr<X11Backend>(new X11Backend(bundle, display, std::move(connection)));
}

X11Backend::X11Backend(const BundleInfo& bundle, std::string display,
                       std::unique_ptr<x11::Connection> connection)
    : common_(bundle),
      display_(std::move(display)),
      connection_(std::move(connection)),
      bridge_(*connection_),
      tap_(
          *connection_, common_.clock(), [this] { return triggerCombinations(); },
          [this](std::string_view line) { common_.log().log(line); }),
      desktop_(*connection_, common_.runLoop(), [this] { return tap_.keyboardGrabbedElsewhere(); }),
      hotKeys_(*connection_),
      panel_([this] { return x11::compositorRunning(*connection_); }),
      paletteGrab_(*connection_),
      palettePanel_(
          &paletteGrab_, [this] { return x11::compositorRunning(*connection_); },
          [this](std::string_view line) { common_.log().log(line); }),
      keyMonitor_([this](std::uint32_t keycode, std::uint32_t state, std::uint32_t) {
        return tap_.keyMap().keyDown(keycode, state);
      }) {
  QCoreApplication::instance()->installNativeEventFilter(&bridge_);
  tap_.setStopDetector(system::takeContinueSignal);
  connectGrabs();
  connectIcons();
  // Tolvane's own windows are raised through the window manager, as other windows are.
  common_.connectActivation([this](unsigned long window) {
    desktop_.activateOwnWindow(static_cast<std::uint32_t>(window));
  });
  services_ =
      common_.services(bundle, {&desktop_, &desktop_, &desktop_, &desktop_, &tap_, &hotKeys_,
                                &screens_, &panel_, &palettePanel_, &keyMonitor_});
}

X11Backend::~X11Backend() {
  QCoreApplication::instance()->removeNativeEventFilter(&bridge_);
}

bool X11Backend::isUsable(std::string& problem) const {
  if (desktop_.isProcessTrusted()) return true;
  problem = "no EWMH window manager runs on display " + display_ +
            "; Tolvane takes Super-Tab as soon as one starts";
  return false;
}

std::vector<x11::TriggerCombination> X11Backend::triggerCombinations() const {
  if (!settings_) return {};
  return x11::triggerCombinations({.interceptTab = settings_->interceptCmdTab(),
                                   .interceptKeyAboveTab = settings_->interceptAppCycle(),
                                   .triggerIsOption = settings_->switcherUsesOption()});
}

void X11Backend::connectGrabs() {
  // The watchdog's release through the tap lets go of the palette's grabs too.
  paletteGrab_.setHoldObserver(
      [this](bool held) { tap_.setWindowGrabHeld(held, x11::X11EventTap::WindowGrab::palette); });
  // Qt's grab for the tray menu is of the same connection: the watchdog lets go of it too.
  // Qt then closes the menu by itself once the main thread is back.
  common_.statusItem().setMenuGrabObserver(
      [this](bool held) { tap_.setWindowGrabHeld(held, x11::X11EventTap::WindowGrab::trayMenu); });
}

void X11Backend::connectIcons() {
  auto applicationIcons = [this](const std::string& bundleID) {
    return desktop_.iconPNG(bundleID);
  };
  auto windowIcons = [this](std::uint32_t window, int side) {
    return desktop_.windowIcon(window, side);
  };
  panel_.setIconSources(applicationIcons, windowIcons);
  palettePanel_.setIconSources(applicationIcons, windowIcons);
  common_.statusItem().setInkSource([this] { return x11::trayForeground(*connection_); });
  common_.connectIcons(applicationIcons);
  // A relaunched or updated application gets its icon read again. The observer lives as long
  // as the desktop that calls it.
  desktop_.addObserver(WorkspaceEvent::launched, [](const RunningApp& app) {
    if (app.bundleID) qt::AppIcons::applicationLaunched(*app.bundleID);
  });
}

}  // namespace tolvane::shell
