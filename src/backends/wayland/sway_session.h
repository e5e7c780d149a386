// Tolvane's part of sway when the compositor is sway: the two IPC connections, the bindings
// installed for the triggers and the palette, their removal from a crash or a stall, and sway's
// events read once and handed on as triggers and tree changes.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/sway/sway_bindings.h"
#include "backends/sway/sway_ipc.h"
#include "backends/sway/sway_view.h"
#include "backends/wayland/compositor_session.h"
#include "backends/wayland/compositor_triggers.h"
#include "backends/wayland/wayland_event_tap.h"
#include "base/run_loop.h"

namespace tolvane::wayland {

/// Main thread only, except the bindings' removeFromAnyThread.
class SwaySession final : public CompositorSession {
 public:
  using Log = std::function<void(std::string_view)>;

  /// Connects to the socket SWAYSOCK names, if any. The views and the focus work at once (the
  /// desktop reads them as it starts); events and bindings follow once subscribed.
  SwaySession(RunLoop& loop, Log log);
  ~SwaySession() override;
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;

  /// Whether Tolvane speaks to sway; without it the user's bindings run the front door.
  bool connected() const override { return commands_ != nullptr; }
  /// The connection whose readability calls readEvents(); -1 when there is none.
  int eventFd() const override { return events_ && !events_->failed() ? events_->fd() : -1; }

  /// Bindings added over sway's IPC for the tap's triggers and for the palette's hot key: each
  /// has its own set, installed and taken back on its own.
  TriggerBindings switcherBindings() override { return bindingsOf(triggerBindings_, "bindings"); }
  TriggerBindings paletteBindings() override {
    return bindingsOf(paletteBindings_, "palette binding");
  }
  /// Where the binding events' triggers go, and who hears that the windows' tree changed.
  void feed(CompositorTriggers& triggers, std::function<void()> treeChanged) override;
  /// Reads what the event connection holds: triggers to the translator, one tree change for a
  /// burst of window and workspace events.
  void readEvents() override;

  /// sway's views, read from its tree now; none without sway.
  std::vector<sway::SwayView> views();
  /// Focuses sway's container `con`; false when sway did not answer.
  bool focus(std::int64_t con);
  /// Takes back every binding Tolvane added, whatever else has or has not been torn down.
  void removeBindings() override;

 private:
  /// `what` names the set in the log line of each install.
  TriggerBindings bindingsOf(std::unique_ptr<sway::SwayBindings>& owner, const char* what);
  std::optional<TriggerBindings::Refusal> install(sway::SwayBindings& owner, const char* what,
                                                  const std::vector<sway::Binding>& bindings);
  /// Keeps the unbind commands of every installed binding ready for the crash handler and the
  /// stall watchdog, which cannot ask the main thread.
  void prepareRemovals();
  /// The stall watchdog's way out: sway forgets the bindings now; the main thread puts them
  /// back once it runs again.
  bool takeBindingsBackFromAnyThread();

  RunLoop& loop_;
  Log log_;
  const std::optional<std::string> socket_;
  std::unique_ptr<sway::SwayIpc> commands_;
  std::unique_ptr<sway::SwayIpc> events_;
  std::unique_ptr<sway::SwayBindings> triggerBindings_;
  std::unique_ptr<sway::SwayBindings> paletteBindings_;
  CompositorTriggers* triggers_ = nullptr;
  std::function<void()> treeChanged_;
  /// What prepareRemovals() last composed, until the stall watchdog takes it.
  std::mutex stallRemovalLock_;
  std::string stallRemoval_;
};

}  // namespace tolvane::wayland
