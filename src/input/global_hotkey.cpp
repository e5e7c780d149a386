// Registration of the palette hot key and the log of its refusals.
#include "input/global_hotkey.h"

namespace tolvane {

namespace {

/// The backend's reason is already bounded and escaped; this keeps the log line short whatever
/// a backend says.
constexpr std::size_t kMaxReasonBytes = 200;

std::string comboFields(std::uint32_t keyCode, std::uint32_t modifiers) {
  return "keyCode=" + std::to_string(keyCode) + " modifiers=" + std::to_string(modifiers);
}

}  // namespace

GlobalHotKey::~GlobalHotKey() {
  unregister();
}

void GlobalHotKey::unregister() {
  if (registration_) hotKeys_.unregisterHotKey(*registration_);
  registration_.reset();
}

void GlobalHotKey::registerCombo(std::uint32_t keyCode, std::uint32_t modifiers) {
  unregister();
  // The handler reads the action when pressed, so setting it later needs no new registration.
  registration_ = hotKeys_.registerHotKey(keyCode, modifiers, [this] {
    if (onTrigger_) onTrigger_();
  });
  if (registration_) {
    refusal_.reset();
    log_.log("palette hotkey registered " + comboFields(keyCode, modifiers));
  } else {
    noteRefusal(keyCode, modifiers);
  }
  if (observer_) observer_();
}

void GlobalHotKey::noteRefusal(std::uint32_t keyCode, std::uint32_t modifiers) {
  std::string reason = hotKeys_.refusalReason().value_or("refused by the desktop");
  if (reason.size() > kMaxReasonBytes) {
    std::size_t end = kMaxReasonBytes;
    while (end > 0 && (static_cast<unsigned char>(reason[end]) & 0xc0) == 0x80) --end;
    reason.resize(end);  // never in the middle of a UTF-8 sequence
  }
  refusal_ = HotKeyRefusal{keyCode, modifiers, reason};
  if (loggedRefusals_.insert({keyCode, modifiers}).second) {
    // A user who started Tolvane from a terminal sees why the palette does not open.
    log_.notice("palette hotkey refused " + comboFields(keyCode, modifiers) + " reason=" + reason);
  }
}

}  // namespace tolvane
