// The event tap on Wayland: the trigger presses come from compositor key bindings, as the keys
// CompositorTriggers makes of them, and for the rest of a session every key and the modifier's
// release come from a surface of ours that holds the keyboard.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/sway/sway_bindings.h"
#include "backends/wayland/session_keyboard.h"
#include "base/clock.h"
#include "base/run_loop.h"
#include "model/compositor_trigger.h"
#include "platform/event_tap.h"

namespace tolvane::wayland {

/// What the tap needs from the compositor's bindings. `install` adds the bindings and answers
/// nothing, or the combination it could not take and why ("Mod4+Tab is bound in sway's
/// configuration"), with nothing left installed; `remove` takes back what was added.
/// `removeFromAnyThread`, for the stall watchdog, takes every binding back without the main
/// thread and answers whether there was any; the main thread puts them back once it runs again.
struct TriggerBindings {
  struct Refusal {
    std::string combination;
    std::string reason;
  };
  std::function<std::optional<Refusal>(const std::vector<sway::Binding>&)> install;
  std::function<void()> remove;
  std::function<bool()> removeFromAnyThread;
  /// The configuration lines the user must add where `install` cannot bind anything.
  std::function<std::optional<std::string>()> manualLines;
};

/// A trigger as the switcher hears it: the key it stands for, with Shift or without.
struct TriggerKey {
  Trigger trigger = Trigger::next;
  std::uint16_t keyCode = 0;
  bool shift = false;
};

/// Main thread only, except releaseFromAnyThread.
///
/// Nothing here can freeze the keyboard: compositor bindings take no grab, and the session's
/// surface is the one hold. The stall watchdog lets go of it from its own thread; a stopped
/// process is let go of by the keyboard sentinel, which disconnects it from the compositor.
class WaylandEventTap final : public EventTap {
 public:
  /// The surface never got the keyboard this long after a trigger: something else holds it
  /// exclusively (a locker, another launcher). The session ends as if the modifier came up.
  static constexpr double kKeyboardArrivalSeconds = 1.0;

  using Combinations = std::function<std::vector<sway::Binding>()>;
  using Log = std::function<void(std::string_view)>;
  /// Told, from any thread, 1 while the session's surface holds the keyboard and 0 once it
  /// does not (see KeyboardSentinel::publishHold).
  using HoldPublisher = std::function<void(std::uint32_t held)>;

  WaylandEventTap(TriggerBindings bindings, SessionKeyboard& keyboard, RunLoop& loop,
                  Combinations combinations, Log log);
  ~WaylandEventTap() override;
  WaylandEventTap(const WaylandEventTap&) = delete;
  WaylandEventTap& operator=(const WaylandEventTap&) = delete;

  void setHoldPublisher(HoldPublisher publisher) { holdPublisher_ = std::move(publisher); }

  bool create(Callback callback) override;
  void destroy() override;
  void setEnabled(bool enabled) override;
  bool isEnabled() const override { return enabled_ && !released_; }
  bool isKeyDown(std::uint16_t keyCode) const override;
  std::optional<std::string> failureReason() const override { return failure_; }
  std::optional<std::string> failedCombination() const override { return failedCombination_; }
  std::optional<std::string> manualBindings() const override {
    return bindings_.manualLines ? bindings_.manualLines() : std::nullopt;
  }
  void sessionEnded() override;
  bool releaseFromAnyThread() override;
  void deliverPendingRelease() override;

  /// A trigger binding fired (see CompositorTriggers): a session begins, or goes on, with its
  /// key. Ignored while the tap is disabled or the trigger is not one of the combinations in
  /// force.
  void press(const TriggerKey& key);
  /// The bindings again, after the settings behind them changed.
  void reloadCombinations();
  /// Whether a session holds the keyboard right now.
  bool holdsKeyboard() const { return keyboard_.isHeld(); }

 private:
  bool install();
  void uninstall();
  void beginHold(std::uint64_t flags);
  /// What a session knew of the keyboard, gone; the surface stays as it is.
  void forgetSession();
  void endHold();
  void entered(const HeldModifiers& held, const std::vector<SessionKey>& pressed);
  void key(const SessionKey& key, bool pressed);
  void modifiersChanged(const HeldModifiers& held);
  void lost();
  void keyboardGone();
  /// The keyboard never arrived: the trigger's modifier counts as released.
  void keyboardLate();
  void deliver(KeyEventType type, std::uint16_t keyCode, std::uint64_t flags);
  void publish(bool held);

  TriggerBindings bindings_;
  SessionKeyboard& keyboard_;
  RunLoop& loop_;
  Combinations combinations_;
  Log log_;
  HoldPublisher holdPublisher_;
  Callback callback_;
  bool created_ = false;
  bool enabled_ = false;
  bool installed_ = false;
  std::vector<sway::Binding> active_;
  /// The trigger modifier of the bindings in force (eventflags::kCommand or kOption).
  std::uint64_t triggerFlag_ = 0;
  std::optional<std::string> failure_;
  std::optional<std::string> failedCombination_;
  /// The flags the session's keys carry; the trigger's modifier until the keyboard says more.
  std::uint64_t flags_ = 0;
  /// The keyboard has arrived on the surface since the session began.
  bool keyboardArrived_ = false;
  TimerId arrival_ = 0;
  // The surface's release after a session, one turn of the loop late (see sessionEnded).
  TimerId deferredRelease_ = 0;
  std::atomic<bool> released_{false};
};

}  // namespace tolvane::wayland
