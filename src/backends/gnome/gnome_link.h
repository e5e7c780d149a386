// Tolvane on GNOME Shell: the extension lends the windows, the keys and a place on screen over
// the session bus, and this link is the compositor connection the shell composes the desktop on.
// It waits for the extension where it is not there yet (a Shell not yet restarted since the
// package installed it, the user disabled it, the Shell restarting) and never ends for that.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/gnome/gnome_status_item.h"
#include "backends/gnome/gnome_windows.h"
#include "backends/gnome/shell_bus.h"
#include "backends/wayland/compositor_link.h"

namespace tolvane::gnome {

class GnomeOverlay;
class GnomeSession;

/// Main thread only, except hungUp().
class GnomeLink final : public wayland::CompositorLink {
 public:
  /// Connects when GNOME Shell owns its name on the session bus; nothing otherwise (`error`
  /// says why when there is no session bus at all). What it logs before setLog() is kept for
  /// that log.
  static std::unique_ptr<GnomeLink> connect(std::string& error);
  ~GnomeLink() override;
  GnomeLink(const GnomeLink&) = delete;
  GnomeLink& operator=(const GnomeLink&) = delete;

  void setLog(Log log) override;
  int fd() const override { return bus_->fd(); }
  bool dispatch() override;
  void flush() override {}
  bool hasFailed() const override { return failed_; }
  bool hungUp(double waitSeconds) const override;
  std::string failure() const override { return failed_ ? "the session bus connection ended" : ""; }
  wayland::ToplevelSource* toplevels() override { return &windows_; }
  std::vector<wayland::OutputInfo> outputs() const override { return outputs_; }
  std::unique_ptr<wayland::OverlayHost> makeOverlay() override;
  std::unique_ptr<wayland::CompositorSession> makeSession(RunLoop& loop, Log log) override;
  std::string withdrawnText() const override { return absenceText(); }
  /// The top-bar menu the extension draws, in place of a tray icon.
  StatusItem* statusItem() override { return &statusItem_; }

  /// Whether the extension answers now.
  bool present() const { return present_; }
  /// What the user must do while the extension is not there, in a sentence.
  std::string absenceText() const;
  ShellBus& bus() { return *bus_; }

 private:
  explicit GnomeLink(std::unique_ptr<ShellBus> bus);
  void log(std::string_view line);
  /// Looks for the extension (enabling it when the Shell has it but it is off) and takes what
  /// it lends when it answers.
  void arrive();
  void presence(bool present);
  void readMonitors();

  std::unique_ptr<ShellBus> bus_;
  Log log_;
  std::vector<std::string> early_;
  GnomeWindows windows_;
  GnomeStatusItem statusItem_;
  /// Where the menu's actions run (known once the session is made): after the extension's call
  /// has been answered, since an action may take long (a dialog) and the extension counts a
  /// late answer as silence.
  RunLoop* loop_ = nullptr;
  std::vector<wayland::OutputInfo> outputs_;
  bool present_ = false;
  bool failed_ = false;
  /// The Shell's state of the extension when it last did not answer; nothing when the Shell
  /// does not know it.
  std::optional<int> state_;
  std::string stateError_;
  GnomeOverlay* overlay_ = nullptr;
  GnomeSession* session_ = nullptr;
};

}  // namespace tolvane::gnome
