// GNOME's side of the triggers.
//
//   binding set installed      | Bind() with both sets' accelerators
//   binding set removed        | Bind() without it: GNOME's own handlers are back for it
//   Triggered(WORD) from Shell | the trigger WORD, to CompositorTriggers
//   the extension came back    | Bind() again with both sets
//   stall, stop, crash, quit   | nothing to send: the extension leaves every combination to
//                              | GNOME while Tolvane does not answer, and gives them all back
//                              | once Tolvane's connection ends
#include "backends/gnome/gnome_session.h"

#include "backends/gnome/gnome_keys.h"
#include "backends/wayland/compositor_triggers.h"
#include "model/compositor_trigger.h"

namespace tolvane::gnome {

GnomeSession::GnomeSession(ShellBus& bus, Log log, std::function<bool()> present)
    : bus_(bus), log_(std::move(log)), present_(std::move(present)) {}

GnomeSession::~GnomeSession() {
  removeBindings();
  if (onDestroy_) onDestroy_();
}

void GnomeSession::feed(wayland::CompositorTriggers& triggers, std::function<void()>) {
  triggers_ = &triggers;
}

void GnomeSession::triggered(std::string_view word) {
  const auto trigger = triggerOfWord(word);
  if (trigger && triggers_) triggers_->fire(*trigger);
}

wayland::TriggerBindings GnomeSession::bindingsOf(Set& set, const char* what) {
  return {
      .install = [this, &set, what](const std::vector<sway::Binding>& bindings)
          -> std::optional<wayland::TriggerBindings::Refusal> {
        Set wanted;
        for (const auto& binding : bindings) {
          const auto accelerator = acceleratorOf(binding.combo);
          if (!accelerator) {
            return wayland::TriggerBindings::Refusal{binding.combo, "GNOME has no name for it"};
          }
          wanted.emplace_back(*accelerator, std::string(triggerWord(binding.trigger)));
        }
        Set previous = std::exchange(set, wanted);
        if (const auto refused = bind()) {
          set = std::move(previous);
          bind();
          std::string combo = *refused;
          for (const auto& binding : bindings) {
            if (acceleratorOf(binding.combo) == *refused) combo = binding.combo;
          }
          return wayland::TriggerBindings::Refusal{combo, "another program holds it in GNOME"};
        }
        log_(std::string("gnome: ") + what + " installed: " + sway::joinedCombos(bindings));
        return std::nullopt;
      },
      .remove =
          [this, &set] {
            if (set.empty()) return;
            set.clear();
            bind();
          },
      // Nothing to do from another thread: the extension stops handing the keys to a Tolvane
      // that does not answer.
      .removeFromAnyThread = [] { return false; },
      .manualLines = []() -> std::optional<std::string> { return std::nullopt; },
  };
}

std::optional<std::string> GnomeSession::bind() {
  // Without the extension nothing is bound; it gets both sets when it comes.
  if (!present_()) return std::nullopt;
  Set both = switcher_;
  both.insert(both.end(), palette_.begin(), palette_.end());
  const auto refused = bus_.bind(both);
  if (!refused) {
    log_("gnome: the extension did not answer the bindings");
    return std::nullopt;
  }
  if (refused->empty()) return std::nullopt;
  return refused->front();
}

void GnomeSession::bindAgain() {
  if (const auto refused = bind()) log_("gnome: GNOME refused " + *refused);
}

void GnomeSession::removeBindings() {
  switcher_.clear();
  palette_.clear();
  if (present_()) bus_.bind({});
}

}  // namespace tolvane::gnome
