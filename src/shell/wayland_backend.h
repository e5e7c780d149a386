// The real desktop on a Wayland compositor that lends Tolvane its window list (the wlroots
// foreign-toplevel protocol, KDE Plasma's window management): the toplevel list and the overlay
// on Tolvane's own compositor connection, sway's IPC where sway runs, a KWin script where KWin
// does, the HUD painted into the overlay, and Qt's windows through Qt's Wayland plugin. Built
// once by the entry point after the QApplication exists; it outlives the application object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "backends/sway/sway_bindings.h"
#include "backends/wayland/compositor_link.h"
#include "backends/wayland/compositor_session.h"
#include "backends/wayland/compositor_triggers.h"
#include "backends/wayland/sway_session.h"
#include "backends/wayland/wayland_desktop.h"
#include "backends/wayland/wayland_event_tap.h"
#include "backends/wayland/wayland_hot_keys.h"
#include "backends/wayland/wayland_screens.h"
#include "shell/desktop_backend.h"
#include "shell/overlay_adapters.h"
#include "ui/qt/overlay_palette_panel.h"
#include "ui/qt/overlay_switcher_panel.h"
#include "ui/qt/qt_key_monitor.h"

class QSocketNotifier;

namespace tolvane::shell {

class WaylandBackend final : public DesktopBackend {
 public:
  /// Nothing, with `error` set, when the compositor lacks what the switcher needs.
  static std::unique_ptr<WaylandBackend> create(const BundleInfo& bundle, std::string display,
                                                std::unique_ptr<wayland::CompositorLink> client,
                                                std::string& error);
  ~WaylandBackend() override;
  WaylandBackend(const WaylandBackend&) = delete;
  WaylandBackend& operator=(const WaylandBackend&) = delete;

  Services& services() override { return services_; }
  CommonServices& common() override { return common_; }
  EventTap& tap() override { return tap_; }
  void setSettings(const AppSettings* settings) override { settings_ = settings; }
  void reloadKeyGrabs() override { tap_.reloadCombinations(); }
  /// Qt's own connection may notice the compositor's end, on Qt's thread, before this one's
  /// socket shows it: the grace lets the hang-up arrive.
  bool displayLost(double graceSeconds) const override {
    return client_->hasFailed() || client_->hungUp(graceSeconds);
  }
  const char* displayKind() const override { return "Wayland compositor"; }
  const char* logPrefix() const override { return "wayland"; }
  void setFocusObserver(std::function<void(std::uint32_t)> observer) override;
  void setHoldPublisher(std::function<void(std::uint32_t)> publisher) override {
    tap_.setHoldPublisher(std::move(publisher));
  }
  bool handleMessage(const std::string& message) override { return triggers_.handOff(message); }
  void launched() override;
  void quitting() override;
  bool isUsable(std::string& problem) const override;

 private:
  WaylandBackend(const BundleInfo& bundle, std::string display,
                 std::unique_ptr<wayland::CompositorLink> client);
  void dispatchWayland();
  /// The link's own where it carries the triggers (GNOME's extension), KWin's script where the
  /// Plasma window list is offered, else sway's IPC (connected only where sway runs).
  std::unique_ptr<wayland::CompositorSession> openSession();
  wayland::WaylandDesktop::Sway swayHooks();
  void focusChanged(wayland::ToplevelId window);
  std::vector<sway::Binding> triggerCombinations() const;
  std::vector<wayland::OutputArea> outputAreas() const;
  /// The compositor went away: the log says so and the application ends with one line.
  void compositorLost();

  CommonServices common_;
  const std::string display_;
  std::unique_ptr<wayland::CompositorLink> client_;
  std::unique_ptr<QSocketNotifier> waylandNotifier_;
  // Before the desktop: it reads sway's views (the windows' pids) as it starts, and an
  // application whose pid arrived later would look relaunched. sway_ is the session when it is
  // sway's, else null.
  wayland::SwaySession* sway_ = nullptr;
  std::unique_ptr<wayland::CompositorSession> session_;
  std::unique_ptr<QSocketNotifier> sessionNotifier_;
  const AppSettings* settings_ = nullptr;
  std::function<void(std::uint32_t)> focusObserver_;
  OverlayAdapters overlay_;
  wayland::WaylandDesktop desktop_;
  wayland::WaylandScreens screens_;
  wayland::WaylandEventTap tap_;
  wayland::WaylandHotKeys hotKeys_;
  wayland::CompositorTriggers triggers_;
  qt::OverlaySwitcherPanel panel_;
  qt::QtKeyMonitor keyMonitor_;
  qt::OverlayPalettePanel palettePanel_;
  Services services_;
};

}  // namespace tolvane::shell
