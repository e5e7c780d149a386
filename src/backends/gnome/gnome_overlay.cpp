// The overlay on GNOME.
//
//   overlay                       | the extension
//   ------------------------------+---------------------------------------------------------------
//   hold() after a trigger        | adopts the grab the trigger's press took (Triggered)
//   hold() otherwise              | Grab(), answered with a serial and the held modifiers
//   the keyboard's arrival        | the modifiers held just after the grab: a quick tap's release
//                                 | that came before it shows as the modifier already up
//   keys, modifiers               | Key(serial, …) while the serial is this hold's; a key older
//                                 | than the extension's patience ends the hold (it has given the
//                                 | keyboard back, and the session must not act on it late)
//   lost                          | GrabEnded for any reason but the modifier's release and
//                                 | Escape (whose keys arrived before it), and the extension
//                                 | gone: the session is cancelled (an Escape) before the hold
//                                 | is lost, since the user has the keyboard back already
//   paint, clear                  | ShowPanel with the frame's pixels, HidePanel
//   release()                     | Release() unless the extension ended the grab already
//   releaseFromAnyThread()        | Release("watchdog") composed ahead, on a connection of its own
#include "backends/gnome/gnome_overlay.h"

#include <time.h>

#include <algorithm>
#include <cstdlib>

namespace tolvane::gnome {

namespace {

/// How long the extension waits for Tolvane's answer before it gives the keyboard back.
constexpr std::int64_t kPatienceMicros = 1000000;

std::int64_t monotonicMicros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

wayland::Modifiers modifiersOf(std::uint32_t bits) {
  return {.shift = (bits & kShift) != 0,
          .control = (bits & kControl) != 0,
          .alt = (bits & kAlt) != 0,
          .super = (bits & kSuper) != 0};
}

}  // namespace

GnomeOverlay::GnomeOverlay(ShellBus& bus, std::function<int(int)> scaleOf,
                           std::function<void(std::string_view)> log)
    : bus_(bus), scaleOf_(std::move(scaleOf)), log_(std::move(log)) {
  emergency_.prepare(kwin::composeMethodCall("org.gnome.Shell", "/com/brenmoor/Tolvane/Shell",
                                             "com.brenmoor.Tolvane.Shell1", "Release", "watchdog",
                                             0x7fff0001));
}

GnomeOverlay::~GnomeOverlay() {
  emergency_.disarm();
  release();
  if (onDestroy_) onDestroy_();
}

void GnomeOverlay::triggered(std::uint32_t serial, std::uint32_t modifiers) {
  offered_ = std::pair{serial, modifiers};
}

void GnomeOverlay::triggerHandled() {
  if (!offered_) return;
  // The switcher did not start a session for it (paused, or one runs already).
  offered_.reset();
  bus_.release("unused");
}

bool GnomeOverlay::hold(const std::string& outputName) {
  if (held_) return true;
  monitor_ = std::atoi(outputName.c_str());
  held_ = true;
  if (offered_) {
    const auto [serial, modifiers] = *std::exchange(offered_, std::nullopt);
    serial_ = lastSerial_ = serial;
    grabbing_ = true;
    modifiers_ = modifiersOf(modifiers);
    entering_ = serial;
    return true;
  }
  serial_ = 0;
  bus_.grab([this](std::optional<std::pair<std::uint32_t, std::uint32_t>> granted) {
    if (!granted) {
      if (held_ && serial_ == 0) lose();
      return;
    }
    if (!held_ || serial_ != 0) {
      bus_.release("late");  // released (or held anew) before the answer came
      return;
    }
    serial_ = lastSerial_ = granted->first;
    grabbing_ = true;
    modifiers_ = modifiersOf(granted->second);
    entering_ = serial_;
    deliverPending();
  });
  return true;
}

void GnomeOverlay::deliverPending() {
  const auto serial = std::exchange(entering_, std::nullopt);
  if (!serial || !held_ || *serial != serial_) return;
  if (keyboard_.entered) keyboard_.entered(modifiers_, {});
}

void GnomeOverlay::key(const ShellKey& key) {
  deliverPending();
  if (!held_ || key.serial != serial_) return;
  if (monotonicMicros() - key.sentMicros > kPatienceMicros) {
    grabbing_ = false;  // the extension let go of it already
    log_("gnome: a key from before Tolvane's silence; the session ends without switching");
    return abandon();
  }
  if (keyboard_.key) keyboard_.key(key.keysym, key.pressed, key.text, key.baseKeysym);
  const auto modifiers = modifiersOf(key.modifiers);
  if (held_ && modifiers != modifiers_) {
    modifiers_ = modifiers;
    if (keyboard_.modifiers) keyboard_.modifiers(modifiers);
  }
}

void GnomeOverlay::grabEnded(std::uint32_t serial, std::string_view why) {
  deliverPending();
  const bool byUser = why == "released" || why == "escape";
  // Said for the latest grab even when the session has ended meanwhile (a watchdog got there
  // first): what the extension did is worth a line either way.
  if (!byUser && serial != 0 && serial == lastSerial_) {
    log_("gnome: the extension gave the keyboard back (" + std::string(why) +
         "); no switch comes of that session");
  }
  if (!held_ || serial != serial_) return;
  grabbing_ = false;
  if (!byUser) abandon();
}

void GnomeOverlay::clicked(double x, double y) {
  if (held_ && click_) click_(x, y);
}

void GnomeOverlay::extensionGone() {
  offered_.reset();
  grabbing_ = false;
  abandon();
}

void GnomeOverlay::abandon() {
  if (!held_) return;
  // The user has had the keyboard back since the extension let go: the session must end
  // without switching, as Escape ends it, not as the modifier's release would.
  constexpr std::uint32_t kEscape = 0xff1b;
  if (held_ && keyboard_.key) {
    keyboard_.key(kEscape, true, {}, kEscape);
    if (held_) keyboard_.key(kEscape, false, {}, kEscape);
  }
  if (held_) lose();
}

void GnomeOverlay::lose() {
  held_ = false;
  serial_ = 0;
  entering_.reset();
  if (grabbing_) bus_.release("lost");
  grabbing_ = false;
  bus_.hidePanel();
  if (lost_) lost_();
}

void GnomeOverlay::paint(Painter painter, Rect bounds, Rect inputArea) {
  if (!held_) return;
  const int scale = std::max(1, scaleOf_(monitor_));
  const int width = static_cast<int>(bounds.width), height = static_cast<int>(bounds.height);
  if (width <= 0 || height <= 0) return;
  pixels_.assign(static_cast<std::size_t>(width) * scale * height * scale, 0);
  painter({.pixels = pixels_.data(),
           .width = width * scale,
           .height = height * scale,
           .stride = width * scale * 4,
           .scale = scale,
           .x = static_cast<int>(bounds.x),
           .y = static_cast<int>(bounds.y)});
  bus_.showPanel(monitor_, {static_cast<int>(bounds.x), static_cast<int>(bounds.y), width, height},
                 scale, pixels_.data(),
                 {static_cast<int>(inputArea.x), static_cast<int>(inputArea.y),
                  static_cast<int>(inputArea.width), static_cast<int>(inputArea.height)});
}

void GnomeOverlay::clear() {
  if (held_) bus_.hidePanel();
}

void GnomeOverlay::release() {
  if (!held_) return;
  held_ = false;
  offered_.reset();
  entering_.reset();
  if (grabbing_) bus_.release("tolvane");
  grabbing_ = false;
  serial_ = 0;
  bus_.hidePanel();
}

bool GnomeOverlay::releaseFromAnyThread() {
  // The extension also gives the keyboard back by itself once Tolvane stops answering; this
  // only makes it sooner.
  return emergency_.send();
}

}  // namespace tolvane::gnome
