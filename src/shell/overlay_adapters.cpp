// The overlay's keyboard for sessions and its pixels for panels, on one surface.
#include "shell/overlay_adapters.h"

#include <optional>
#include <string>
#include <utility>

#include "backends/wayland/wayland_keys.h"

namespace tolvane::shell {
namespace {

Rect logical(const QRect& rect) {
  return Rect{static_cast<double>(rect.x()), static_cast<double>(rect.y()),
              static_cast<double>(rect.width()), static_cast<double>(rect.height())};
}

}  // namespace

/// The tap's view of the surface: a hold for the length of a session.
class OverlayAdapters::Keyboard final : public wayland::SessionKeyboard {
 public:
  explicit Keyboard(OverlayAdapters& owner) : owner_(owner) {}

  void setHandler(Handler handler) override { handler_ = std::move(handler); }
  bool hold() override { return owner_.hold(OverlayAdapters::Holder::session); }
  void release() override { owner_.release(OverlayAdapters::Holder::session); }
  bool isHeld() const override { return owner_.holder_ == OverlayAdapters::Holder::session; }
  bool releaseFromAnyThread() override { return owner_.surface_->releaseFromAnyThread(); }

  Handler handler_;

 private:
  OverlayAdapters& owner_;
};

/// The panels' view of the surface: frames, clicks, and a hold of the keyboard for the palette.
class OverlayAdapters::Canvas final : public qt::OverlayCanvas {
 public:
  explicit Canvas(OverlayAdapters& owner) : owner_(owner) {}

  std::optional<QRect> area() const override {
    const auto output = this->output();
    if (!output) return std::nullopt;
    return QRect(output->x, output->y, output->width, output->height);
  }

  int scale() const override {
    const auto output = this->output();
    return output ? output->scale : 1;
  }

  void paint(std::function<void(const Frame&)> painter, const QRect& bounds,
             const QRect& input) override {
    // A panel shown outside a session (the palette holds it itself) maps the surface first.
    if (owner_.holder_ == OverlayAdapters::Holder::none) return;
    owner_.surface_->paint(
        [painter = std::move(painter)](const wayland::OverlayHost::Frame& frame) {
          painter({frame.pixels, frame.width, frame.height, frame.stride, frame.scale, frame.x,
                   frame.y});
        },
        logical(bounds), logical(input));
    owner_.client_.flush();
  }

  void clear() override {
    if (owner_.holder_ == OverlayAdapters::Holder::none) return;
    owner_.surface_->clear();
    owner_.client_.flush();
  }

  void setClickHandler(std::function<void(QPointF)> handler) override {
    click_ = std::move(handler);
  }

  bool holdKeyboard(KeyboardHandler handler) override {
    keys_ = std::move(handler);
    return owner_.hold(OverlayAdapters::Holder::panel);
  }

  void releaseKeyboard() override {
    keys_ = {};
    owner_.release(OverlayAdapters::Holder::panel);
  }

  std::function<void(QPointF)> click_;
  KeyboardHandler keys_;
  wayland::HeldModifiers held_;

 private:
  /// The output a hold maps the surface on: the named one, else the first.
  std::optional<wayland::OutputInfo> output() const {
    const std::string name = owner_.output_();
    for (auto& output : owner_.client_.outputs()) {
      if (name.empty() || output.name == name) return std::move(output);
    }
    return std::nullopt;
  }

  OverlayAdapters& owner_;
};

OverlayAdapters::OverlayAdapters(wayland::CompositorLink& link, std::function<std::string()> output)
    : client_(link),
      output_(std::move(output)),
      surface_(link.makeOverlay()),
      keyboard_(std::make_unique<Keyboard>(*this)),
      canvas_(std::make_unique<Canvas>(*this)) {
  surface_->setKeyboardHandler({
      .entered = [this](const wayland::Modifiers& held,
                        const std::vector<std::uint32_t>& pressed) { entered(held, pressed); },
      .key = [this](std::uint32_t keysym, bool pressed, const std::string& text,
                    std::uint32_t baseKeysym) { key(keysym, pressed, text, baseKeysym); },
      .modifiers = [this](const wayland::Modifiers& held) { modifiers(held); },
      // Something else took the keyboard (sway refocuses when a window closes): the session
      // can no longer hear its modifier's release, so it ends as if it came up.
      .left = [this] { lost(); },
      .gone =
          [this] {
            if (holder_ == Holder::session && keyboard_->handler_.gone) keyboard_->handler_.gone();
          },
  });
  surface_->setClickHandler([this](double x, double y) {
    const Point at = surface_->origin();
    if (auto click = canvas_->click_) click(QPointF(x + at.x, y + at.y));
  });
  surface_->setLostHandler([this] { lost(); });
}

OverlayAdapters::~OverlayAdapters() = default;

wayland::SessionKeyboard& OverlayAdapters::keyboard() {
  return *keyboard_;
}

qt::OverlayCanvas& OverlayAdapters::canvas() {
  return *canvas_;
}

bool OverlayAdapters::hold(Holder holder) {
  if (holder_ == holder) return true;
  holder_ = holder;
  const bool held = surface_->isHeld() || surface_->hold(output_());
  client_.flush();
  if (!held) holder_ = Holder::none;
  return held;
}

void OverlayAdapters::release(Holder holder) {
  if (holder_ != holder) return;
  holder_ = Holder::none;
  surface_->release();
  client_.flush();
}

void OverlayAdapters::entered(const wayland::HeldModifiers& held,
                              const std::vector<std::uint32_t>& pressed) {
  canvas_->held_ = held;
  if (holder_ != Holder::session || !keyboard_->handler_.entered) return;
  std::vector<wayland::SessionKey> keys;
  for (std::uint32_t keysym : pressed) keys.push_back({0, keysym, {}});
  keyboard_->handler_.entered(held, keys);
}

void OverlayAdapters::key(std::uint32_t keysym, bool pressed, const std::string& text,
                          std::uint32_t baseKeysym) {
  const wayland::SessionKey key{0, baseKeysym ? baseKeysym : keysym, text};
  if (holder_ == Holder::session) {
    if (keyboard_->handler_.key) keyboard_->handler_.key(key, pressed);
  } else if (holder_ == Holder::panel && canvas_->keys_.pressed) {
    const KeyEvent event{pressed ? KeyEventType::keyDown : KeyEventType::keyUp,
                         wayland::productKeyCode(key.xkbKeycode, key.keysym),
                         wayland::productFlags(canvas_->held_)};
    canvas_->keys_.pressed({event, text});
  }
}

void OverlayAdapters::modifiers(const wayland::HeldModifiers& held) {
  canvas_->held_ = held;
  if (holder_ == Holder::session && keyboard_->handler_.modifiers) {
    keyboard_->handler_.modifiers(held);
  }
}

void OverlayAdapters::lost() {
  const Holder was = std::exchange(holder_, Holder::none);
  if (was == Holder::session && keyboard_->handler_.lost) keyboard_->handler_.lost();
  if (was == Holder::panel && canvas_->keys_.lost) canvas_->keys_.lost();
}

}  // namespace tolvane::shell
