// The one overlay surface of Tolvane's compositor connection, lent in turn to the switcher's
// session (as the tap's keyboard) and to the panels (as the canvas they paint into): keys go to
// whichever holds it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/wayland/compositor_link.h"
#include "backends/wayland/session_keyboard.h"
#include "ui/qt/overlay_canvas.h"

namespace tolvane::shell {

/// Main thread only, except the keyboard's releaseFromAnyThread.
class OverlayAdapters {
 public:
  /// `output` names the output a hold maps the surface on (the focused window's).
  OverlayAdapters(wayland::CompositorLink& link, std::function<std::string()> output);
  ~OverlayAdapters();
  OverlayAdapters(const OverlayAdapters&) = delete;
  OverlayAdapters& operator=(const OverlayAdapters&) = delete;

  wayland::SessionKeyboard& keyboard();
  qt::OverlayCanvas& canvas();

 private:
  class Keyboard;
  class Canvas;
  /// Who the surface's keyboard is lent to.
  enum class Holder { none, session, panel };

  bool hold(Holder holder);
  void release(Holder holder);
  void entered(const wayland::HeldModifiers& held, const std::vector<std::uint32_t>& pressed);
  void key(std::uint32_t keysym, bool pressed, const std::string& text, std::uint32_t baseKeysym);
  void modifiers(const wayland::HeldModifiers& held);
  void lost();

  wayland::CompositorLink& client_;
  std::function<std::string()> output_;
  std::unique_ptr<wayland::OverlayHost> surface_;
  std::unique_ptr<Keyboard> keyboard_;
  std::unique_ptr<Canvas> canvas_;
  Holder holder_ = Holder::none;
};

}  // namespace tolvane::shell
