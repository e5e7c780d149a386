// What a desktop's compositor lends Tolvane, whatever carries it: a Wayland connection of its
// own (wlroots' and Plasma's protocols) or a compositor's extension over the session bus (GNOME
// Shell). The shell composes the desktop on one link and knows no more of it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backends/wayland/keyboard_events.h"
#include "backends/wayland/toplevel_model.h"
#include "base/geometry.h"

namespace tolvane {
class RunLoop;
class StatusItem;
}  // namespace tolvane

namespace tolvane::wayland {

class CompositorSession;

/// An output as the compositor lays it out: logical position and size, integer scale.
struct OutputInfo {
  std::string name;
  int x = 0, y = 0, width = 0, height = 0;
  int scale = 1;
  bool operator==(const OutputInfo&) const = default;
};

/// The place above every window where a session holds the keyboard and panels show their
/// frames. Main thread only, except releaseFromAnyThread().
class OverlayHost {
 public:
  /// A buffer to paint: ARGB8888, premultiplied, `stride` bytes per row, `width`×`height`
  /// pixels = the logical size × `scale`. Its top-left pixel lies at (`x`, `y`) of the output,
  /// logical.
  struct Frame {
    std::uint32_t* pixels = nullptr;
    int width = 0, height = 0, stride = 0;
    int scale = 1;
    int x = 0, y = 0;
  };
  using Painter = std::function<void(const Frame&)>;

  virtual ~OverlayHost() = default;
  /// Takes the keyboard exclusively, over the output named `outputName` (empty: the
  /// compositor's choice). False when it cannot.
  virtual bool hold(const std::string& outputName) = 0;
  /// Shows `painter`'s frame of `bounds` (now, or once the compositor can take one), `inputArea`
  /// its clickable part; logical coordinates within the output.
  virtual void paint(Painter painter, Rect bounds, Rect inputArea) = 0;
  /// Nothing shown and nothing clickable again; the keyboard stays held.
  virtual void clear() = 0;
  /// The keyboard goes back and nothing is shown. Idempotent.
  virtual void release() = 0;
  virtual bool isHeld() const = 0;
  /// Where clicks' coordinates start on the output (logical).
  virtual Point origin() const = 0;
  /// From any thread, never waiting on the main thread: gives the keyboard back. False when
  /// nothing was held.
  virtual bool releaseFromAnyThread() = 0;
  virtual void setKeyboardHandler(KeyboardHandler handler) = 0;
  virtual void setClickHandler(ClickHandler handler) = 0;
  /// The hold ended without release(): the compositor took it back, or the watchdog did.
  virtual void setLostHandler(std::function<void()> handler) = 0;
};

/// Main thread only, except hungUp().
class CompositorLink {
 public:
  using Log = std::function<void(std::string_view)>;

  virtual ~CompositorLink() = default;
  /// Where the link logs from now on (it may have logged elsewhere before the log existed).
  virtual void setLog(Log log) { (void)log; }
  /// The connection to watch for readability; dispatch() handles what arrived.
  virtual int fd() const = 0;
  /// False once the connection has ended for good.
  virtual bool dispatch() = 0;
  virtual void flush() = 0;
  virtual bool hasFailed() const = 0;
  /// Any thread: whether the other end has closed the connection, waiting up to
  /// `waitSeconds` for that to show.
  virtual bool hungUp(double waitSeconds) const = 0;
  /// Why the connection ended, empty while it works.
  virtual std::string failure() const = 0;
  /// The windows; nullptr when the compositor offers no list.
  virtual ToplevelSource* toplevels() = 0;
  virtual std::vector<OutputInfo> outputs() const = 0;
  virtual std::unique_ptr<OverlayHost> makeOverlay() = 0;
  /// Where the link itself carries the triggers (GNOME's extension), their session; nothing
  /// where the shell finds them apart (sway's IPC, a KWin script).
  virtual std::unique_ptr<CompositorSession> makeSession(RunLoop& loop, Log log) = 0;
  /// What stops the switcher while toplevels() lends no list, in a sentence.
  virtual std::string withdrawnText() const {
    return "the Wayland compositor withdrew its list of windows";
  }
  /// Where the compositor draws Tolvane's menu itself (GNOME's top bar); nothing where the
  /// tray icon does.
  virtual StatusItem* statusItem() { return nullptr; }
  /// Whether KWin lent its window list: its script carries the triggers.
  virtual bool hasPlasmaWindows() const { return false; }
};

}  // namespace tolvane::wayland
