// What the entry point needs of the desktop it runs on, whichever display server that is: the
// services the application is built from, the tap the watchdogs reach, and the few events
// only the entry point can act on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/services.h"
#include "settings/app_settings.h"
#include "shell/common_services.h"

namespace tolvane::shell {

class DesktopBackend {
 public:
  virtual ~DesktopBackend() = default;

  virtual Services& services() = 0;
  virtual CommonServices& common() = 0;
  DebugLog& log() { return common().log(); }
  /// What the stall watchdog and the quit deadline reach from their own threads.
  virtual EventTap& tap() = 0;
  /// The settings decide which trigger combinations the tap takes; they exist only once the
  /// application does.
  virtual void setSettings(const AppSettings* settings) = 0;
  /// The trigger combinations changed: the tap gives up its combinations and takes the new ones.
  virtual void reloadKeyGrabs() = 0;
  /// True once the display server is gone, waiting up to `graceSeconds` for the end to show on
  /// the backend's own connection; the entry point then ends with a message. Any thread.
  virtual bool displayLost(double graceSeconds) const = 0;
  /// What the display server is called in that message ("X display", "Wayland compositor").
  virtual const char* displayKind() const = 0;
  /// The prefix of the backend's own lines in a verbose run ("x11", "wayland").
  virtual const char* logPrefix() const = 0;
  /// Sees each window that becomes the active one (a verbose run prints them).
  virtual void setFocusObserver(std::function<void(std::uint32_t window)> observer) = 0;
  /// Told, from any thread, what of ours holds the whole keyboard (see KeyboardSentinel).
  virtual void setHoldPublisher(std::function<void(std::uint32_t)> publisher) = 0;
  /// A message another `tolvane` handed over that is for the desktop (a trigger press); false
  /// for the others, which go to the application.
  virtual bool handleMessage(const std::string& message) = 0;
  /// Called once the application has finished launching.
  virtual void launched() {}
  /// Called before the application ends: whatever the desktop lent is given back.
  virtual void quitting() {}
  /// Whether the desktop grants what the switcher needs; when not, `problem` says it once.
  virtual bool isUsable(std::string& problem) const = 0;
};

}  // namespace tolvane::shell
