// Each trigger word with the key the switcher hears for it.
//
//   next          Tab, the trigger's modifier held
//   previous      Shift+Tab
//   app-next      the key above Tab
//   app-previous  Shift and the key above Tab
//   palette       the palette's hot key, no session
#include "backends/wayland/compositor_triggers.h"

#include "model/key_codes.h"

namespace tolvane::wayland {

void CompositorTriggers::fire(Trigger trigger) {
  switch (trigger) {
    case Trigger::next:
      return tap_.press({trigger, keycode::kTab, false});
    case Trigger::previous:
      return tap_.press({trigger, keycode::kTab, true});
    case Trigger::appNext:
      return tap_.press({trigger, keycode::kKeyAboveTab, false});
    case Trigger::appPrevious:
      return tap_.press({trigger, keycode::kKeyAboveTab, true});
    case Trigger::palette:
      return hotKeys_.press();
  }
}

bool CompositorTriggers::handOff(std::string_view message) {
  if (!isTriggerMessage(message)) return false;
  if (const auto trigger = triggerOfMessage(message)) fire(*trigger);
  return true;
}

void CompositorTriggers::bindingsTakenBack() {
  tap_.reloadCombinations();
  hotKeys_.reinstall();
}

}  // namespace tolvane::wayland
