// Tolvane's GNOME Shell extension over the session bus: what Tolvane asks of it, and the object
// through which it tells Tolvane of keys, windows and clicks. Calls that return something wait a
// bounded time (the Shell answers within milliseconds, and one that does not must not hold the
// main thread); the rest go without waiting.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane::gnome {

inline constexpr std::string_view kExtensionUuid = "tolvane@brenmoor.com";

/// Tolvane's modifier bits as the extension sends them.
inline constexpr std::uint32_t kShift = 1, kControl = 2, kAlt = 4, kSuper = 8;

/// A window as the extension describes it, bounded.
struct ShellWindow {
  /// Mutter's id: unique while the Shell runs, maybe again after it restarts.
  std::uint64_t id = 0;
  std::string title, wmClass, appId;
  std::int32_t pid = 0;
  /// The workspace's index; -1 when the window is on every workspace.
  std::int32_t workspace = -1;
  bool minimized = false, skipTaskbar = false, focused = false;
  std::int32_t monitor = 0;
};

/// A monitor in the Shell's logical coordinates.
struct ShellMonitor {
  int x = 0, y = 0, width = 0, height = 0;
  /// Device pixels per logical pixel, rounded up.
  int scale = 1;
};

/// A key of a session, forwarded while the extension holds the grab.
struct ShellKey {
  std::uint32_t serial = 0;
  std::uint32_t keysym = 0;
  bool pressed = false;
  std::string text;
  /// The keysym the key types with no modifier held.
  std::uint32_t baseKeysym = 0;
  std::uint32_t keycode = 0;
  /// The modifiers held after the key (kShift…).
  std::uint32_t modifiers = 0;
  /// When the extension sent it (CLOCK_MONOTONIC, microseconds).
  std::int64_t sentMicros = 0;
};

struct PanelRect {
  int x = 0, y = 0, width = 0, height = 0;
};

/// Main thread only.
class ShellBus {
 public:
  static constexpr double kCallTimeoutSeconds = 1.0;

  struct Handlers {
    /// A trigger combination was pressed and the extension holds the keyboard for session
    /// `serial`; `modifiers` are those held just after the grab.
    std::function<void(std::string_view word, std::uint32_t serial, std::uint32_t modifiers,
                       std::int64_t sentMicros)>
        triggered;
    std::function<void(const ShellKey&)> key;
    /// The extension ended the grab of `serial` itself (the modifier's release, Escape, Tolvane
    /// silent for too long, another grab).
    std::function<void(std::uint32_t serial, std::string_view why)> grabEnded;
    std::function<void(const ShellWindow&)> windowChanged;
    std::function<void(std::uint64_t id)> windowClosed;
    std::function<void()> monitorsChanged;
    /// A click on the panel's clickable part, in its monitor's logical coordinates.
    std::function<void(double x, double y)> clicked;
    /// The panel, hidden before, has been painted on screen.
    std::function<void()> panelShown;
    std::function<void(std::string_view id)> menuActivated;
    std::function<void()> menuOpening;
    std::function<void()> menuClosed;
    /// The extension's object appeared (a Shell started, the extension was enabled) or went.
    std::function<void(bool present)> presence;
  };

  /// Connects to the session bus; nothing, with `error` set, when there is none.
  static std::unique_ptr<ShellBus> connect(std::string& error);
  ~ShellBus();
  ShellBus(const ShellBus&) = delete;
  ShellBus& operator=(const ShellBus&) = delete;

  /// The socket to watch for readability; process() handles what arrived.
  int fd() const;
  /// Handles every message that arrived; false once the connection has ended.
  bool process();
  /// Serves Tolvane's object with `handlers` and follows the Shell and the extension.
  bool serve(Handlers handlers);

  /// What the Shell says of the extension: its state (1 enabled, 2 disabled, 3 error, 4 out of
  /// date, 5 downloading, 6 initialized), nothing when the Shell does not know it or does not
  /// answer; `error` is the Shell's reason where it gives one.
  std::optional<int> extensionState(std::string* error = nullptr);
  bool enableExtension();
  /// Waits up to `seconds` for the Shell to say the extension is enabled (GNOME 45 and later
  /// enable it after answering EnableExtension); whether it did.
  bool awaitEnabled(double seconds);
  /// Makes Tolvane the extension's peer; false when the extension does not answer.
  bool registerWithExtension();
  std::optional<std::vector<ShellWindow>> windows();
  std::optional<std::vector<ShellMonitor>> monitors();
  bool activate(std::uint64_t id);
  bool close(std::uint64_t id);
  bool setMinimized(std::uint64_t id, bool minimized);
  /// Binds each (accelerator, trigger word) and unbinds the rest; the accelerators refused,
  /// nothing when the extension did not answer.
  std::optional<std::vector<std::string>> bind(
      const std::vector<std::pair<std::string, std::string>>& bindings);
  /// Asks for the keyboard outside a trigger; `done` gets the session's serial and the held
  /// modifiers, or nothing when the extension could not grab or did not answer.
  void grab(std::function<void(std::optional<std::pair<std::uint32_t, std::uint32_t>>)> done);
  /// Ends the grab, without waiting.
  void release(std::string_view why);
  /// Shows `pixels` (premultiplied ARGB32, rows of bounds.width × scale) at `bounds` of
  /// `monitor`, `input` its clickable part; without waiting.
  void showPanel(int monitor, PanelRect bounds, int scale, const std::uint32_t* pixels,
                 PanelRect input);
  void hidePanel();
  void setMenu(const std::string& json);
  const std::string& uniqueName() const { return uniqueName_; }
  /// Whether GNOME Shell owns its name on the bus (known once serve() ran).
  bool shellRuns() const { return !shellOwner_.empty(); }

  struct State;

 private:
  explicit ShellBus(std::unique_ptr<State> state);
  bool fromShell(const char* sender) const;
  void followShell();

  std::unique_ptr<State> state_;
  std::string uniqueName_;
  /// The Shell's unique name: only it may call Tolvane's object.
  std::string shellOwner_;
  Handlers handlers_;
};

}  // namespace tolvane::gnome
