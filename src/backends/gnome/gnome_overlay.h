// The Shell's keyboard grab and panel as Tolvane's overlay: a session's grab is the one the
// extension took at the trigger (or one asked for, for the palette), its keys arrive over the
// bus, and frames painted here are shown by the extension as an image above every window.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backends/gnome/shell_bus.h"
#include "backends/kwin/emergency_call.h"
#include "backends/wayland/compositor_link.h"

namespace tolvane::gnome {

/// Main thread only, except releaseFromAnyThread().
class GnomeOverlay final : public wayland::OverlayHost {
 public:
  /// `scaleOf` gives a monitor's scale by its index.
  GnomeOverlay(ShellBus& bus, std::function<int(int monitor)> scaleOf,
               std::function<void(std::string_view)> log);
  ~GnomeOverlay() override;
  GnomeOverlay(const GnomeOverlay&) = delete;
  GnomeOverlay& operator=(const GnomeOverlay&) = delete;
  /// Runs as this object goes: the link that routes the bus's news here stops.
  void setOnDestroy(std::function<void()> gone) { onDestroy_ = std::move(gone); }

  /// The extension took the keyboard for a trigger: the next hold() adopts that grab.
  void triggered(std::uint32_t serial, std::uint32_t modifiers);
  /// After a trigger was handed on: a grab nobody adopted goes back at once.
  void triggerHandled();
  void key(const ShellKey& key);
  void grabEnded(std::uint32_t serial, std::string_view why);
  void clicked(double x, double y);
  /// The extension went: nothing of it is held any more.
  void extensionGone();
  /// Runs what a hold owes its handler (the keyboard's arrival): before anything else the bus
  /// brings, so that keys never overtake it.
  void deliverPending();

  bool hold(const std::string& outputName) override;
  void paint(Painter painter, Rect bounds, Rect inputArea) override;
  void clear() override;
  void release() override;
  bool isHeld() const override { return held_; }
  Point origin() const override { return {0, 0}; }
  bool releaseFromAnyThread() override;
  void setKeyboardHandler(wayland::KeyboardHandler handler) override {
    keyboard_ = std::move(handler);
  }
  void setClickHandler(wayland::ClickHandler handler) override { click_ = std::move(handler); }
  void setLostHandler(std::function<void()> handler) override { lost_ = std::move(handler); }

 private:
  void enter(std::uint32_t serial, std::uint32_t modifiers);
  void lose();
  /// The extension let go without the user's release: cancelled, then lost.
  void abandon();

  ShellBus& bus_;
  std::function<int(int)> scaleOf_;
  std::function<void(std::string_view)> log_;
  wayland::KeyboardHandler keyboard_;
  wayland::ClickHandler click_;
  std::function<void()> lost_;
  bool held_ = false;
  /// The grab this hold has (0: asked for, not granted yet), and whether the extension still
  /// holds it (it ends it itself on the modifier's release and on Escape).
  std::uint32_t serial_ = 0;
  bool grabbing_ = false;
  /// The grab of the latest hold, kept after it ended.
  std::uint32_t lastSerial_ = 0;
  /// A trigger's grab waiting for hold(), with the modifiers held after it.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> offered_;
  /// The arrival a hold owes its handler.
  std::optional<std::uint32_t> entering_;
  wayland::Modifiers modifiers_;
  int monitor_ = 0;
  std::vector<std::uint32_t> pixels_;
  /// The stall watchdog's way to end the grab without the main thread.
  kwin::EmergencyCall emergency_;
  std::function<void()> onDestroy_;
};

}  // namespace tolvane::gnome
