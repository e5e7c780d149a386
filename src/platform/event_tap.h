// Keyboard interception: the event tap that sees every key event before other clients do, and
// the physical key state.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tolvane {

/// Modifier flags of key events, in the product's own encoding.
namespace eventflags {
inline constexpr std::uint64_t kShift = 0x20000;
inline constexpr std::uint64_t kControl = 0x40000;
inline constexpr std::uint64_t kOption = 0x80000;
inline constexpr std::uint64_t kCommand = 0x100000;
}  // namespace eventflags

enum class KeyEventType {
  keyDown,
  keyUp,
  flagsChanged,
  tapDisabledByTimeout,
  tapDisabledByUserInput,
};

/// One key event in the product's virtual key codes; backends translate at the edge.
struct KeyEvent {
  KeyEventType type = KeyEventType::keyDown;
  std::uint16_t keyCode = 0;
  std::uint64_t flags = 0;
};

enum class TapVerdict { pass, consume };

class EventTap {
 public:
  /// Runs on the main thread for every event; its verdict decides whether others see it.
  /// It must not throw.
  using Callback = std::function<TapVerdict(const KeyEvent&)>;

  virtual ~EventTap() = default;

  /// Installs the tap; false when the desktop refuses (permission, a key owned elsewhere).
  virtual bool create(Callback callback) = 0;
  virtual void destroy() = 0;
  virtual void setEnabled(bool enabled) = 0;
  virtual bool isEnabled() const = 0;
  /// Whether the key is physically down right now, whatever events were delivered.
  virtual bool isKeyDown(std::uint16_t keyCode) const = 0;
  /// Why the last create() or setEnabled(true) failed, in a few words for the log and for the
  /// user ("Super+Tab is grabbed by another program"); nothing while it works.
  virtual std::optional<std::string> failureReason() const { return std::nullopt; }
  /// The combination the last failure was about, as the desktop writes it ("Super+Tab"), for
  /// texts that explain it in the user's language; nothing while it works.
  virtual std::optional<std::string> failedCombination() const { return std::nullopt; }
  /// Where the desktop binds the triggers only through its own configuration (a Wayland
  /// compositor that offers Tolvane no way to add bindings), the lines to add to it.
  virtual std::optional<std::string> manualBindings() const { return std::nullopt; }

  /// The switcher's session is over. A tap that took the whole keyboard for the session gives
  /// it back at once, so the keys that follow reach their windows even while the trigger
  /// modifier is still held.
  virtual void sessionEnded() {}

  /// Any thread, without waiting for the main thread: lets go of everything through which the
  /// tap holds the user's keyboard (a freeze, a session's grab, the trigger combinations), as a
  /// system does with a tap whose callback has stopped answering. When the main thread runs
  /// again the callback first receives tapDisabledByTimeout, and keys queued meanwhile are
  /// dropped. False when the tap held nothing.
  virtual bool releaseFromAnyThread() { return false; }
  /// Main thread: delivers the tapDisabledByTimeout that releaseFromAnyThread left pending.
  virtual void deliverPendingRelease() {}
};

}  // namespace tolvane
