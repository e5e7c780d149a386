// Capture of a new palette hot key and the description of the recorder.
#include "input/hotkey_recorder.h"

#include "model/key_codes.h"
#include "model/key_combo.h"

namespace tolvane {

namespace {

/// Device-independent modifier flags live in the upper 16 of the low 32 bits (Caps Lock,
/// Shift, Control, Option, Command, keypad, help, function).
constexpr std::uint64_t kDeviceIndependentFlags = 0xffff0000;

}  // namespace

void HotkeyRecorder::click() {
  if (isRecording()) {
    stop();
  } else {
    start();
  }
}

void HotkeyRecorder::start() {
  monitor_ =
      s_.keyMonitor.addKeyDownMonitor([this](const KeyEvent& event) { return capture(event); });
}

void HotkeyRecorder::stop() {
  if (!monitor_) return;
  // Cleared first: removing the monitor may destroy the closure that is running this.
  const MonitorToken token = *monitor_;
  monitor_.reset();
  s_.keyMonitor.removeMonitor(token);
}

void HotkeyRecorder::reset() {
  s_.settings.setPaletteKeyCode(kDefaultKeyCode);
  s_.settings.setPaletteModifiers(kDefaultModifiers);
}

bool HotkeyRecorder::isCustomized() const {
  return s_.settings.paletteKeyCode() != kDefaultKeyCode ||
         s_.settings.paletteModifiers() != kDefaultModifiers;
}

bool HotkeyRecorder::capture(const KeyEvent& event) {
  if (event.keyCode == keycode::kEscape && (event.flags & kDeviceIndependentFlags) == 0) {
    stop();
    return true;
  }
  const std::uint32_t mask = keycombo::carbonFlags(event.flags);
  if (mask == 0 || !keycombo::keyName(event.keyCode)) {
    s_.interaction.beep();
    return true;
  }
  // Each assignment is stored and re-registers the hot key, key code first.
  s_.settings.setPaletteKeyCode(event.keyCode);
  s_.settings.setPaletteModifiers(mask);
  stop();
  return true;
}

HotkeyRecorderView HotkeyRecorder::view() const {
  HotkeyRecorderView view;
  view.recording = isRecording();
  view.showsReset = isCustomized();
  if (view.recording) {
    view.prompt = s_.l10n.string("hotkey.recording");
    view.horizontalInset = 10;
    view.fill = {SemanticColor::primary, 0.06};
    view.stroke = {SemanticColor::accent, 1.0};
    view.strokeWidth = 1.5;
  } else {
    view.chips = paletteComboChips(s_.settings);
  }
  return view;
}

std::vector<std::string> paletteComboChips(const AppSettings& settings) {
  // Stored values outside 32 bits show as an unnamed key rather than a wrapped-around one.
  const auto keyCode = settings.paletteKeyCode();
  const auto modifiers = settings.paletteModifiers();
  const bool inRange =
      keyCode >= 0 && keyCode <= 0xffffffff && modifiers >= 0 && modifiers <= 0xffffffff;
  return inRange ? keycombo::symbols(static_cast<std::uint32_t>(keyCode),
                                     static_cast<std::uint32_t>(modifiers))
                 : std::vector<std::string>{"?"};
}

std::string paletteComboText(const AppSettings& settings) {
  std::string text;
  for (const auto& chip : paletteComboChips(settings)) text += (text.empty() ? "" : "+") + chip;
  return text;
}

}  // namespace tolvane
