// What the connection binds, shared by the surfaces of this library (not part of its interface).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/wayland/seat_input.h"
#include "backends/wayland/wayland_client.h"

struct wl_compositor;
struct wl_output;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct zwlr_layer_shell_v1;
struct zwp_keyboard_shortcuts_inhibit_manager_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;

namespace tolvane::wayland {

class ForeignToplevels;
class PlasmaWindows;

/// One wl_output and what is known of it.
struct OutputRecord {
  std::uint32_t globalName = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdgOutput = nullptr;
  WaylandClient::OutputInfo info;
  /// wl_output's own mode size, for when xdg-output is missing.
  int modeWidth = 0, modeHeight = 0;
};

struct Globals {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  wl_seat* seat = nullptr;
  zwlr_layer_shell_v1* layerShell = nullptr;
  zxdg_output_manager_v1* xdgOutputManager = nullptr;
  zwp_keyboard_shortcuts_inhibit_manager_v1* shortcutsInhibitManager = nullptr;
  std::vector<std::unique_ptr<OutputRecord>> outputs;
  SeatInput input;
  std::unique_ptr<ForeignToplevels> toplevels;
  std::unique_ptr<PlasmaWindows> plasmaWindows;
  /// The registry name of the Plasma window manager's global, to see it removed.
  std::uint32_t plasmaWindowsName = 0;
  /// The registry lists a global of KWin's own (org_kde_kwin_*, org_kde_plasma_*).
  bool kwin = false;
  /// Run after each dispatch: lets a surface finish what a watchdog thread began.
  std::vector<std::pair<const void*, std::function<void()>>> afterDispatch;

  OutputRecord* outputNamed(const std::string& name) const;
  std::string nameOf(const wl_output* output) const;
};

}  // namespace tolvane::wayland
