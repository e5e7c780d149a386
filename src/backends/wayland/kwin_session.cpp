// KWin's side of the triggers.
//
//   binding set installed      | the script loaded again with both sets' shortcuts
//   binding set removed        | the same without it; none left: the script unloaded
//   Trigger(WORD) from script  | the trigger WORD, to CompositorTriggers
//   Heartbeat() from script    | whether a session's surface holds the keyboard
//   stall                      | the precomposed unload from the watchdog's thread; the main
//                              | thread loads the script again once it runs
//   crash                      | the same, from the crash handler (see KWinScript)
#include "backends/wayland/kwin_session.h"

namespace tolvane::wayland {

KWinSession::KWinSession(RunLoop& loop, Log log, std::string folder)
    : loop_(loop), log_(std::move(log)) {
  std::string error;
  bus_ = kwin::KWinBus::connect(error);
  if (!bus_) {
    log_("kwin: " + error + "; bind the keys to tolvane trigger in KDE's shortcuts");
    return;
  }
  if (!bus_->kwinAnswers()) {
    log_(
        "kwin: KWin's scripting does not answer on the session bus; bind the keys to tolvane "
        "trigger in KDE's shortcuts");
    bus_.reset();
    return;
  }
  script_ = std::make_unique<kwin::KWinScript>(*bus_, std::move(folder));
}

KWinSession::~KWinSession() {
  removeBindings();
}

void KWinSession::feed(CompositorTriggers& triggers, std::function<void()>) {
  triggers_ = &triggers;
  if (!bus_) return;
  bus_->serve({
      .trigger =
          [this](std::string_view word) {
            const auto trigger = triggerOfWord(word);
            if (trigger && triggers_) triggers_->fire(*trigger);
          },
      .heartbeat = [this] { return triggers_ && triggers_->sessionHoldsKeyboard(); },
  });
}

void KWinSession::readEvents() {
  if (bus_ && !bus_->process()) {
    log_("kwin: the session bus connection ended");
    script_.reset();
    bus_.reset();
  }
}

TriggerBindings KWinSession::bindingsOf(Set& set, const char* what) {
  return {
      .install = [this, &set, what](const std::vector<sway::Binding>& bindings)
          -> std::optional<TriggerBindings::Refusal> {
        return script_ ? install(set, what, bindings) : std::nullopt;
      },
      .remove =
          [this, &set] {
            if (set.empty()) return;
            set.clear();
            if (script_) reload();
          },
      .removeFromAnyThread =
          [this] {
            if (!script_ || !script_->takeBackFromAnyThread()) return false;
            loop_.postFromAnyThread([this] {
              if (triggers_) triggers_->bindingsTakenBack();
            });
            return true;
          },
      .manualLines = [this]() -> std::optional<std::string> {
        if (script_) return std::nullopt;
        return "# System Settings, Shortcuts, Add New, Command or Script: each key runs\n"
               "Meta+Tab           tolvane trigger next\n"
               "Meta+Shift+Tab     tolvane trigger previous\n"
               "Meta+`             tolvane trigger app-next\n"
               "Meta+~             tolvane trigger app-previous\n"
               "Alt+Space          tolvane trigger palette\n";
      },
  };
}

std::optional<TriggerBindings::Refusal> KWinSession::install(
    Set& set, const char* what, const std::vector<sway::Binding>& bindings) {
  Set wanted;
  for (const auto& binding : bindings) wanted.push_back({binding.combo, binding.trigger});
  Set previous = std::exchange(set, wanted);
  if (const auto refusal = reload()) {
    // Nothing of this set stays: the others' shortcuts go back as they were.
    set.clear();
    if (!previous.empty()) reload();
    return TriggerBindings::Refusal{refusal->combo, refusal->reason};
  }
  log_(std::string("kwin: ") + what + " installed: " + sway::joinedCombos(bindings));
  return std::nullopt;
}

std::optional<kwin::KWinScript::Refusal> KWinSession::reload() {
  Set both = switcher_;
  both.insert(both.end(), palette_.begin(), palette_.end());
  return script_->install(both);
}

void KWinSession::removeBindings() {
  switcher_.clear();
  palette_.clear();
  if (script_) script_->remove();
}

}  // namespace tolvane::wayland
