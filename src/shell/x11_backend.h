// The real desktop on X11: the X11 services on Qt's own connection and the Qt panels, over the
// services every desktop shares. Built once by the entry point after the QApplication exists;
// it outlives the application object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "backends/x11/x11_connection.h"
#include "backends/x11/x11_desktop.h"
#include "backends/x11/x11_event_tap.h"
#include "backends/x11/x11_hot_keys.h"
#include "backends/x11/x11_input_grab.h"
#include "shell/desktop_backend.h"
#include "shell/x11_event_bridge.h"
#include "ui/qt/qt_key_monitor.h"
#include "ui/qt/qt_palette_panel.h"
#include "ui/qt/qt_screens.h"
#include "ui/qt/qt_switcher_panel.h"

namespace tolvane::shell {

class X11Backend final : public DesktopBackend {
 public:
  /// Nothing, with `error` set, when Qt has no X11 connection (another platform plugin, or no
  /// display).
  static std::unique_ptr<X11Backend> create(const BundleInfo& bundle, const std::string& display,
                                            std::string& error);
  ~X11Backend() override;
  X11Backend(const X11Backend&) = delete;
  X11Backend& operator=(const X11Backend&) = delete;

  Services& services() override { return services_; }
  CommonServices& common() override { return common_; }
  EventTap& tap() override { return tap_; }
  void setSettings(const AppSettings* settings) override { settings_ = settings; }
  void reloadKeyGrabs() override { tap_.reloadCombinations(); }
  bool displayLost(double) const override { return connection_->hasFailed(); }
  const char* displayKind() const override { return "X display"; }
  const char* logPrefix() const override { return "x11"; }
  void setFocusObserver(std::function<void(std::uint32_t)> observer) override {
    desktop_.setFocusObserver(std::move(observer));
  }
  void setHoldPublisher(std::function<void(std::uint32_t)> publisher) override {
    tap_.setHoldPublisher(std::move(publisher));
  }
  bool handleMessage(const std::string&) override { return false; }
  bool isUsable(std::string& problem) const override;

 private:
  X11Backend(const BundleInfo& bundle, std::string display,
             std::unique_ptr<x11::Connection> connection);
  /// What the tap grabs under the settings in force; nothing before the settings exist.
  std::vector<x11::TriggerCombination> triggerCombinations() const;
  /// The watchdog's release reaches the grabs that Qt's windows take on the shared connection.
  void connectGrabs();
  /// Every painter's icons from the desktop entries and the windows, refreshed at each launch.
  void connectIcons();

  CommonServices common_;
  const std::string display_;
  std::unique_ptr<x11::Connection> connection_;
  X11EventBridge bridge_;
  const AppSettings* settings_ = nullptr;
  x11::X11EventTap tap_;
  x11::X11Desktop desktop_;
  x11::X11HotKeys hotKeys_;
  qt::QtScreens screens_;
  qt::QtSwitcherPanel panel_;
  x11::X11InputGrab paletteGrab_;
  qt::QtPalettePanel palettePanel_;
  qt::QtKeyMonitor keyMonitor_;
  Services services_;
};

}  // namespace tolvane::shell
