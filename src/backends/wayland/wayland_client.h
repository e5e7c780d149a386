// The connection to a Wayland compositor: its globals bound once, its events read without ever
// blocking, its failure in words.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "backends/wayland/compositor_link.h"
#include "backends/wayland/toplevel_model.h"

struct wl_display;

namespace tolvane::wayland {

struct Globals;

/// Owns the display connection and every global it binds. Main thread only, except display(),
/// which a watchdog may use to send requests. Surfaces made on it must go before it.
class WaylandClient final : public CompositorLink {
 public:
  using OutputInfo = wayland::OutputInfo;

  /// Connects to `displayName` (nullptr: $WAYLAND_DISPLAY; an absolute path works) and waits
  /// for the globals and the outputs' first description. Absent, with `error` set, on failure.
  static std::unique_ptr<WaylandClient> connect(const char* displayName, std::string& error);
  ~WaylandClient() override;
  WaylandClient(const WaylandClient&) = delete;
  WaylandClient& operator=(const WaylandClient&) = delete;

  /// The socket to watch for readability.
  int fd() const override;
  int socketFd() const { return fd(); }
  /// Reads what is readable without blocking, dispatches it, then flushes. False once the
  /// connection has failed.
  bool dispatch() override;
  /// Sends the buffered requests; a full socket keeps the rest for the next flush.
  void flush() override;
  bool hasFailed() const override;
  /// Any thread, touching nothing of libwayland's: whether the compositor has closed its end of
  /// the connection, waiting up to `waitSeconds` for that to show. Unread events do not hide it.
  bool hungUp(double waitSeconds) const override;
  /// Why the connection failed (the errno or the protocol error), empty while it works.
  std::string failure() const override;

  bool hasForeignToplevels() const;
  /// Whether KWin lent us its window list (org_kde_plasma_window_management) at connect; a
  /// list withdrawn since has reported `finished`.
  bool hasPlasmaWindows() const override;
  /// Whether the registry lists any global of KWin's own: KWin that keeps its window list from
  /// us is told apart from a compositor that has none to lend.
  bool compositorIsKWin() const;
  bool hasLayerShell() const;
  /// The compositor's toplevels: Plasma's windows when bound, else the foreign toplevels;
  /// nullptr when it offers neither.
  ToplevelSource* toplevels() override;
  std::vector<OutputInfo> outputs() const override;
  /// Tolvane's layer-shell surface.
  std::unique_ptr<OverlayHost> makeOverlay() override;
  /// None: the shell finds the triggers apart (sway's IPC, a KWin script).
  std::unique_ptr<CompositorSession> makeSession(RunLoop& loop, Log log) override;
  wl_display* display() const;
  /// The bound globals, for the surfaces of this library.
  Globals& globals() { return *globals_; }

 private:
  WaylandClient();
  bool noteFailure();

  std::unique_ptr<Globals> globals_;
  std::string failure_;
};

}  // namespace tolvane::wayland
