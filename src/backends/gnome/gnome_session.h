// GNOME's side of the triggers: the extension binds Tolvane's combinations (taking over GNOME's
// own switcher bindings where they hold them) and its presses arrive as trigger words.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/gnome/shell_bus.h"
#include "backends/wayland/compositor_session.h"

namespace tolvane::gnome {

class GnomeSession final : public wayland::CompositorSession {
 public:
  using Log = std::function<void(std::string_view)>;

  /// `present` tells whether the extension answers now.
  GnomeSession(ShellBus& bus, Log log, std::function<bool()> present);
  ~GnomeSession() override;
  GnomeSession(const GnomeSession&) = delete;
  GnomeSession& operator=(const GnomeSession&) = delete;
  /// Runs as this object goes: the link that routes the bus's news here stops.
  void setOnDestroy(std::function<void()> gone) { onDestroy_ = std::move(gone); }

  bool connected() const override { return true; }
  int eventFd() const override { return -1; }  // the link's own connection carries them
  wayland::TriggerBindings switcherBindings() override {
    return bindingsOf(switcher_, "shortcuts");
  }
  wayland::TriggerBindings paletteBindings() override {
    return bindingsOf(palette_, "palette shortcut");
  }
  void feed(wayland::CompositorTriggers& triggers, std::function<void()> windowsChanged) override;
  void readEvents() override {}
  void removeBindings() override;

  /// A trigger word from the extension.
  void triggered(std::string_view word);
  /// The extension came back: it knows none of Tolvane's combinations.
  void bindAgain();

 private:
  /// The accelerator of each combination, with its trigger word.
  using Set = std::vector<std::pair<std::string, std::string>>;
  wayland::TriggerBindings bindingsOf(Set& set, const char* what);
  /// Binds both sets as they are now; the first combination refused, if any.
  std::optional<std::string> bind();

  ShellBus& bus_;
  Log log_;
  std::function<bool()> present_;
  wayland::CompositorTriggers* triggers_ = nullptr;
  Set switcher_, palette_;
  std::function<void()> onDestroy_;
};

}  // namespace tolvane::gnome
