// The overlay layer surface: mapping (one pixel for a keyboard alone, a panel's rectangle for a
// panel), holding the compositor's shortcuts off while it has the keyboard, painting into a small
// buffer pool, and the two ways the keyboard goes back (release on the main thread,
// releaseFromAnyThread from a watchdog).
#include "backends/wayland/overlay_surface.h"

#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "backends/wayland/buffer_slots.h"
#include "backends/wayland/shm_buffer.h"
#include "backends/wayland/wayland_globals.h"
#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

namespace tolvane::wayland {

struct OverlaySurface::Surface {
  wl_surface* surface = nullptr;
  zwlr_layer_surface_v1* layer = nullptr;
  // Keeps the compositor's own shortcuts (KWin's, a KWin script's) from taking the session's
  // keys. It acts only while the surface has the keyboard, so the watchdog's release, which
  // takes the keyboard away, ends it too without touching it.
  zwp_keyboard_shortcuts_inhibitor_v1* inhibitor = nullptr;
  std::string outputName;
  int scale = 1;
  /// Logical pixels within the output; not anchored = the centred idle pixel.
  struct Placement {
    int x = 0, y = 0, width = 1, height = 1;
    bool anchored = false;
    bool operator==(const Placement&) const = default;
  };
  // A session's keyboard alone needs a mapped surface, not pixels: until something is painted
  // the surface is one transparent pixel, cheap to map and to composite. A panel moves it over
  // just the panel, so that a frame is a panel's pixels, not an output's.
  Placement wanted;         // what the next frame is drawn at
  Placement sent;           // what the compositor was last told
  bool configured = false;  // the first configure came: buffers may be attached
  bool redrawPending = false;
  // The last frame attached is what the painter draws now: a configure then only needs
  // acknowledging.
  bool current = false;
};

struct OverlaySurface::Pool {
  BufferSlots slots;
  std::vector<std::unique_ptr<ShmBuffer>> buffers;
};

namespace {

const zwlr_layer_surface_v1_listener kLayerListener = {
    .configure =
        [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width,
           std::uint32_t height) {
          static_cast<OverlaySurface*>(data)->onConfigureFor(serial, width, height);
        },
    .closed = [](void* data,
                 zwlr_layer_surface_v1*) { static_cast<OverlaySurface*>(data)->onClosedFor(); },
};

void setInputRegion(wl_compositor* compositor, wl_surface* surface, const Rect& area) {
  wl_region* region = wl_compositor_create_region(compositor);
  if (area.width > 0 && area.height > 0) {
    const int left = static_cast<int>(std::floor(area.x));
    const int top = static_cast<int>(std::floor(area.y));
    const int right = static_cast<int>(std::ceil(area.x + area.width));
    const int bottom = static_cast<int>(std::ceil(area.y + area.height));
    wl_region_add(region, left, top, right - left, bottom - top);
  }
  wl_surface_set_input_region(surface, region);
  wl_region_destroy(region);
}

}  // namespace

OverlaySurface::OverlaySurface(WaylandClient& client)
    : client_(client), pool_(std::make_unique<Pool>()) {
  client_.globals().afterDispatch.emplace_back(this, [this] { finishAnyThreadRelease(); });
}

OverlaySurface::~OverlaySurface() {
  auto& hooks = client_.globals().afterDispatch;
  hooks.erase(std::remove_if(hooks.begin(), hooks.end(),
                             [this](const auto& hook) { return hook.first == this; }),
              hooks.end());
  if (hold_.load() == Hold::WatchdogDone) hold_.store(Hold::Held);
  release();
}

bool OverlaySurface::hold(const std::string& outputName) {
  finishAnyThreadRelease();
  if (isHeld() && surface_->outputName == outputName) return true;
  release();
  if (hold_.load() != Hold::None) return false;  // a watchdog release is still being sent
  Globals& g = client_.globals();
  if (g.layerShell == nullptr || g.compositor == nullptr || g.shm == nullptr) return false;
  OutputRecord* output = outputName.empty() ? nullptr : g.outputNamed(outputName);
  if (!outputName.empty() && output == nullptr) return false;

  auto s = std::make_unique<Surface>();
  s->outputName = outputName;
  s->scale = output != nullptr ? output->info.scale : 1;
  s->surface = wl_compositor_create_surface(g.compositor);
  s->layer = zwlr_layer_shell_v1_get_layer_surface(g.layerShell, s->surface,
                                                   output != nullptr ? output->output : nullptr,
                                                   ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "tolvane");
  zwlr_layer_surface_v1_add_listener(s->layer, &kLayerListener, this);
  zwlr_layer_surface_v1_set_size(s->layer, 1, 1);  // what `sent` starts as
  zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
  zwlr_layer_surface_v1_set_keyboard_interactivity(
      s->layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
  setInputRegion(g.compositor, s->surface, Rect{});
  if (g.shortcutsInhibitManager != nullptr && g.seat != nullptr) {
    s->inhibitor = zwp_keyboard_shortcuts_inhibit_manager_v1_inhibit_shortcuts(
        g.shortcutsInhibitManager, s->surface, g.seat);
  }
  g.input.route(s->surface, &keyboard_, &click_);
  // The first commit carries no buffer: the compositor answers with the size to draw at.
  wl_surface_commit(s->surface);
  painter_ = nullptr;
  inputArea_ = Rect{};
  surface_ = std::move(s);
  ++holds_;
  hold_.store(Hold::Held);
  client_.flush();
  return true;
}

void OverlaySurface::setKeyboardHandler(KeyboardHandler handler) {
  keyboard_ = std::move(handler);
  // sway sends a leave when it focuses a window under the surface (the activation a session
  // ends with) or when a window closes, and never enters the surface again.
  keyboard_.left = [this, left = std::move(keyboard_.left)] {
    const std::uint64_t held = holds_;
    if (left) left();
    if (holds_ == held) release();
  };
}

void OverlaySurface::paint(Painter painter, Rect bounds, Rect inputArea) {
  finishAnyThreadRelease();
  painter_ = std::move(painter);
  inputArea_ = inputArea;
  if (!surface_ || !isHeld()) return;
  Surface& s = *surface_;
  const int maxLogical = ShmBuffer::kMaxSide / s.scale;
  const int left = static_cast<int>(std::floor(bounds.x));
  const int top = static_cast<int>(std::floor(bounds.y));
  Surface::Placement wanted{std::max(0, left), std::max(0, top),
                            static_cast<int>(std::ceil(bounds.x + bounds.width)) - left,
                            static_cast<int>(std::ceil(bounds.y + bounds.height)) - top, true};
  wanted.width = std::clamp(wanted.width, 1, maxLogical);
  wanted.height = std::clamp(wanted.height, 1, maxLogical);
  s.wanted = wanted;
  s.current = false;
  draw();
}

void OverlaySurface::clear() {
  finishAnyThreadRelease();
  painter_ = nullptr;
  inputArea_ = Rect{};
  if (!surface_ || !isHeld()) return;
  surface_->wanted = Surface::Placement{};
  surface_->current = false;
  draw();
}

void OverlaySurface::release() {
  finishAnyThreadRelease();
  Hold expected = Hold::Held;
  if (!hold_.compare_exchange_strong(expected, Hold::None)) return;
  destroySurface();
  client_.flush();
}

bool OverlaySurface::isHeld() const {
  return hold_.load() == Hold::Held;
}

Point OverlaySurface::origin() const {
  if (!surface_) return {};
  return {static_cast<double>(surface_->sent.x), static_cast<double>(surface_->sent.y)};
}

bool OverlaySurface::releaseFromAnyThread() {
  Hold expected = Hold::Held;
  if (!hold_.compare_exchange_strong(expected, Hold::WatchdogSending)) return false;
  // The main thread may be stuck in the middle of sending a frame, holding the lock: go ahead
  // anyway. The first commit gives the keyboard back even if the main thread's attach slips in
  // between; the second unmaps. Nothing is destroyed here: the main thread may be dispatching
  // events to these objects.
  std::unique_lock<std::mutex> lock(sending_, std::try_to_lock);
  zwlr_layer_surface_v1_set_keyboard_interactivity(
      surface_->layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
  wl_surface_commit(surface_->surface);
  wl_surface_attach(surface_->surface, nullptr, 0, 0);
  wl_surface_commit(surface_->surface);
  wl_display_flush(client_.display());
  hold_.store(Hold::WatchdogDone);
  return true;
}

void OverlaySurface::finishAnyThreadRelease() {
  if (hold_.load() != Hold::WatchdogDone) return;
  destroySurface();
  hold_.store(Hold::None);
  client_.flush();
  if (lost_) lost_();
}

void OverlaySurface::destroySurface() {
  if (!surface_) return;
  client_.globals().input.unroute(surface_->surface);
  if (surface_->inhibitor != nullptr)
    zwp_keyboard_shortcuts_inhibitor_v1_destroy(surface_->inhibitor);
  zwlr_layer_surface_v1_destroy(surface_->layer);
  wl_surface_destroy(surface_->surface);
  surface_.reset();
  keepOneBuffer();
}

void OverlaySurface::keepOneBuffer() {
  // The next session's first frame goes into memory whose pages are already in: a large panel's
  // fresh pages took longer to fault in than the panel took to paint. One buffer, the largest,
  // so that what stays between sessions is one panel's worth; but not a large output's worth
  // (the palette covers the output), which would stay in memory for good.
  constexpr long long kMaxKeptPixels = 4LL * 1024 * 1024;  // 16 MiB
  auto& buffers = pool_->buffers;
  const auto pixels = [&](std::size_t at) {
    return static_cast<long long>(buffers[at]->width()) * buffers[at]->height();
  };
  std::size_t kept = buffers.size();
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    if (!buffers[i] || pixels(i) > kMaxKeptPixels) continue;
    if (kept == buffers.size() || pixels(i) > pixels(kept)) kept = i;
  }
  std::unique_ptr<ShmBuffer> buffer = kept < buffers.size() ? std::move(buffers[kept]) : nullptr;
  buffers.clear();
  pool_->slots.keepOnly(kept);
  if (!buffer || !buffer->renew(client_.globals().shm, [this] { bufferReleased(0); })) {
    pool_->slots.clear();
    return;
  }
  buffers.push_back(std::move(buffer));
}

void OverlaySurface::bufferReleased(std::size_t index) {
  pool_->slots.release(index);
  if (surface_ && surface_->redrawPending) draw();
}

void OverlaySurface::place(Surface& s) {
  if (s.sent == s.wanted) return;
  const Surface::Placement& p = s.wanted;
  // Anchored to the top-left corner with margins, at a fixed size: the compositor configures
  // exactly that size, so the frame can go along with the change instead of after a configure.
  zwlr_layer_surface_v1_set_anchor(
      s.layer,
      p.anchored ? ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT : 0);
  zwlr_layer_surface_v1_set_margin(s.layer, p.y, 0, 0, p.x);
  zwlr_layer_surface_v1_set_size(s.layer, static_cast<std::uint32_t>(p.width),
                                 static_cast<std::uint32_t>(p.height));
  s.sent = p;
}

void OverlaySurface::draw() {
  if (!surface_ || !isHeld()) return;
  Surface& s = *surface_;
  if (!s.configured) {
    // No buffer before the first configure; the frame follows it.
    std::lock_guard<std::mutex> lock(sending_);
    if (!isHeld()) return;
    place(s);
    wl_surface_commit(s.surface);
    client_.flush();
    return;
  }
  const Surface::Placement at = s.wanted;
  const int width = at.width * s.scale, height = at.height * s.scale;
  Pool& pool = *pool_;
  const auto pick = pool.slots.acquire(width, height);
  if (!pick) {
    s.redrawPending = true;  // every buffer is with the compositor: draw at the next release
    return;
  }
  s.redrawPending = false;
  if (pick->allocate) {
    if (pool.buffers.size() <= pick->index) pool.buffers.resize(pick->index + 1);
    const std::size_t index = pick->index;
    pool.buffers[index] = ShmBuffer::create(client_.globals().shm, width, height,
                                            [this, index] { bufferReleased(index); });
    if (!pool.buffers[index]) {
      pool.slots.release(index);
      return;
    }
  }
  ShmBuffer& buffer = *pool.buffers[pick->index];
  const Frame frame{buffer.pixels(), width, height, buffer.stride(), s.scale, at.x, at.y};
  if (painter_) {
    painter_(frame);
  } else {
    std::memset(buffer.pixels(), 0, static_cast<std::size_t>(buffer.stride()) * height);
  }
  std::lock_guard<std::mutex> lock(sending_);
  if (!isHeld()) return;
  place(s);
  wl_surface_attach(s.surface, buffer.buffer(), 0, 0);
  wl_surface_set_buffer_scale(s.surface, s.scale);
  if (wl_surface_get_version(s.surface) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION) {
    wl_surface_damage_buffer(s.surface, 0, 0, width, height);
  } else {
    wl_surface_damage(s.surface, 0, 0, at.width, at.height);
  }
  Rect input{};
  if (painter_)
    input = Rect{inputArea_.x - at.x, inputArea_.y - at.y, inputArea_.width, inputArea_.height};
  setInputRegion(client_.globals().compositor, s.surface, input);
  wl_surface_commit(s.surface);
  s.current = true;
  client_.flush();
}

void OverlaySurface::onConfigureFor(std::uint32_t serial, std::uint32_t width,
                                    std::uint32_t height) {
  // Once the watchdog has unmapped the surface, the compositor forgets the configures it had
  // sent: acknowledging one of them is a protocol error.
  if (!surface_ || !isHeld()) return;
  Surface& s = *surface_;
  zwlr_layer_surface_v1_ack_configure(s.layer, serial);
  // The surface asks for a fixed size, so the configured one is only a confirmation (possibly of
  // an earlier placement): frames keep the size asked for.
  (void)width;
  (void)height;
  s.configured = true;
  if (s.current) {
    wl_surface_commit(s.surface);
    client_.flush();
    return;
  }
  draw();
}

void OverlaySurface::onClosedFor() {
  Hold expected = Hold::Held;
  if (!hold_.compare_exchange_strong(expected, Hold::None)) return;  // the watchdog's path ends it
  destroySurface();
  client_.flush();
  if (lost_) lost_();
}

}  // namespace tolvane::wayland
