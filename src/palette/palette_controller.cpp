// Opening, closing, the palette's keys, row clicks and the sampled session report.
#include "palette/palette_controller.h"

#include <cmath>

#include "model/key_codes.h"
#include "palette/palette_text.h"
#include "palette/palette_view.h"

namespace tolvane {

namespace {

// The letters of Control-N and Control-P, in the product's key codes.
constexpr std::uint16_t kKeyN = 45;
constexpr std::uint16_t kKeyP = 35;
// Only the device-independent modifier bits decide a shortcut.
constexpr std::uint64_t kModifierMask = 0xFFFF0000;

/// The 1-based row of a Command-digit key, or nothing.
std::optional<std::size_t> digitRow(std::uint16_t keyCode) {
  for (std::size_t i = 0; i < keycode::kDigits.size(); ++i) {
    if (keycode::kDigits[i] == keyCode) return i + 1;
  }
  return std::nullopt;
}

}  // namespace

PaletteController::PaletteController(Services services)
    : s_(std::move(services)), model_(s_.snapshot) {
  s_.panel.setQueryHandler([this](const std::string& query) {
    if (!open_) return;
    model_.setQuery(query);
    render();
  });
  s_.panel.setRowClickHandler([this](int row, int clickCount) { onRowClick(row, clickCount); });
  s_.panel.setResignHandler([this, weak = std::weak_ptr<int>(alive_)] {
    if (!open_) return;
    // Closed on a later turn of the loop, and only if this same opening is still shown.
    s_.runLoop.post([this, weak, opening = opening_] {
      if (!weak.expired() && open_ && opening_ == opening) close();
    });
  });
}

PaletteController::~PaletteController() {
  // The panel belongs to the backend and may outlive the controller.
  s_.panel.setQueryHandler(nullptr);
  s_.panel.setRowClickHandler(nullptr);
  s_.panel.setResignHandler(nullptr);
  if (keyMonitor_) s_.keyMonitor.removeMonitor(*keyMonitor_);
  if (open_) s_.holdKeyboard(false);
}

void PaletteController::show() {
  if (s_.switcherSessionActive()) {
    // The session holds the keyboard and ends on its own key release; it wins.
    s_.log.log("palette: not opened, a switcher session holds the keyboard");
    return;
  }
  model_.reload();
  sessionStartTime_ = s_.clock.now();
  sessionKeystrokes_ = 0;
  if (auto placed = placement()) frame_ = placed;
  ++opening_;
  if (!open_) s_.holdKeyboard(true);
  open_ = true;
  render();
  if (!keyMonitor_) {
    keyMonitor_ = s_.keyMonitor.addKeyDownMonitor(
        [this, weak = std::weak_ptr<int>(alive_)](const KeyEvent& event) {
          if (weak.expired() || !open_ || !s_.panel.isVisible()) return false;
          return handle(event);
        });
  }
}

void PaletteController::close() {
  recordSession(true, std::nullopt);
  if (keyMonitor_) s_.keyMonitor.removeMonitor(*std::exchange(keyMonitor_, std::nullopt));
  if (open_) s_.holdKeyboard(false);
  open_ = false;
  s_.panel.hide();
}

void PaletteController::toggle() {
  if (open_ && s_.panel.isVisible()) {
    close();
  } else {
    show();
  }
}

void PaletteController::confirm(const SwitchWindow& window) {
  std::optional<std::size_t> position;
  const auto& visible = model_.visible();
  for (std::size_t i = 0; i < visible.size() && !position; ++i) {
    if (visible[i].id() == window.id()) position = i;
  }
  recordSession(false, position);
  close();
  // A window that closed since the snapshot fails in the activator, which says so; no other
  // window is brought forward in its place.
  s_.activator.activate(window);
}

bool PaletteController::handle(const KeyEvent& event) {
  ++sessionKeystrokes_;
  const std::uint64_t flags = event.flags & kModifierMask;
  if (flags == eventflags::kCommand) {
    if (const auto row = digitRow(event.keyCode)) {
      // Beyond the last row the key is still consumed: it must not type a digit.
      if (*row <= model_.visible().size()) confirm(model_.visible()[*row - 1]);
      return true;
    }
  }
  switch (event.keyCode) {
    case keycode::kEscape:
      if (model_.query().empty()) {
        close();
      } else {
        model_.setQuery({});
        render();
      }
      return true;
    case keycode::kReturn:
    case keycode::kKeypadEnter:
      if (auto chosen = model_.selectedWindow()) confirm(*chosen);
      return true;
    case keycode::kDown:
    case keycode::kUp:
      model_.moveSelection(event.keyCode == keycode::kDown ? +1 : -1);
      render();
      return true;
    case kKeyN:
    case kKeyP:
      if (flags != eventflags::kControl) return false;
      model_.moveSelection(event.keyCode == kKeyN ? +1 : -1);
      render();
      return true;
    default:
      return false;
  }
}

void PaletteController::render() {
  if (!open_) return;
  s_.panel.show(describePalette(model_, s_.l10n, s_.accessibility.isProcessTrusted(), frame_,
                                s_.hotKeyText()));
}

void PaletteController::onRowClick(int row, int clickCount) {
  if (!open_ || row < 0 || static_cast<std::size_t>(row) >= model_.visible().size()) return;
  const SwitchWindow window = model_.visible()[static_cast<std::size_t>(row)];
  if (clickCount >= 2) {
    confirm(window);
    return;
  }
  model_.select(window.id());
  render();
}

void PaletteController::recordSession(bool cancelled, std::optional<std::size_t> resultIndex) {
  if (!sessionStartTime_) return;
  const double start = *std::exchange(sessionStartTime_, std::nullopt);
  if (s_.random.uniform(kSessionSampling) != 0) return;
  const auto ms = static_cast<std::int64_t>(std::trunc((s_.clock.now() - start) * 1000));
  s_.usage.record(
      "session",
      {{"trigger", std::string("optSpace")},
       {"ms", ms},
       {"keystrokes", sessionKeystrokes_},
       {"resultIndex", resultIndex ? static_cast<std::int64_t>(*resultIndex) : std::int64_t{-1}},
       {"cancelled", cancelled},
       {"searchChars", static_cast<std::int64_t>(characterCount(model_.query()))},
       {"sample", std::int64_t{kSessionSampling}}});
}

std::optional<Rect> PaletteController::placement() const {
  const auto frame = s_.screens.mainVisibleFrame();
  if (!frame) return std::nullopt;
  return Rect{frame->x + frame->width / 2 - kPanelWidth / 2,
              frame->y + kCentreFromTop * frame->height - kPanelHeight / 2, kPanelWidth,
              kPanelHeight};
}

}  // namespace tolvane
