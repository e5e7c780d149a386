// Tolvane's part of KWin: one script holding the switcher's and the palette's shortcuts, its
// presses arriving on the session bus as trigger words, and the heartbeat it asks for while a
// session holds the keyboard.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backends/kwin/kwin_bus.h"
#include "backends/kwin/kwin_script.h"
#include "backends/wayland/compositor_session.h"
#include "base/run_loop.h"

namespace tolvane::wayland {

class KWinSession final : public CompositorSession {
 public:
  using Log = std::function<void(std::string_view)>;

  /// Connects to the session bus and KWin's scripting; the script file goes to `folder`.
  KWinSession(RunLoop& loop, Log log, std::string folder);
  ~KWinSession() override;
  KWinSession(const KWinSession&) = delete;
  KWinSession& operator=(const KWinSession&) = delete;

  bool connected() const override { return script_ != nullptr; }
  int eventFd() const override { return bus_ ? bus_->fd() : -1; }
  TriggerBindings switcherBindings() override { return bindingsOf(switcher_, "shortcuts"); }
  TriggerBindings paletteBindings() override { return bindingsOf(palette_, "palette shortcut"); }
  void feed(CompositorTriggers& triggers, std::function<void()> windowsChanged) override;
  void readEvents() override;
  void removeBindings() override;

 private:
  using Set = std::vector<kwin::ScriptShortcut>;
  TriggerBindings bindingsOf(Set& set, const char* what);
  std::optional<TriggerBindings::Refusal> install(Set& set, const char* what,
                                                  const std::vector<sway::Binding>& bindings);
  /// Loads the script with both sets as they are now.
  std::optional<kwin::KWinScript::Refusal> reload();

  RunLoop& loop_;
  Log log_;
  std::unique_ptr<kwin::KWinBus> bus_;
  std::unique_ptr<kwin::KWinScript> script_;
  CompositorTriggers* triggers_ = nullptr;
  Set switcher_, palette_;
};

}  // namespace tolvane::wayland
