// The script's text, its loading and its ways back out.
//
//   Tolvane                         | KWin
//   --------------------------------+------------------------------------------------------------
//   a trigger's combination         | registerShortcut("Tolvane: WORD", …, sequence, callback)
//   the press                       | callDBus(Tolvane's unique name, kTriggerPath, Trigger, WORD)
//   a combination someone else has  | kglobalaccel lists an action on its key that is not ours
//   leftover of a killed run        | unloadScript("tolvane") before each load
//   quit, SIGTERM, SIGINT           | unloadScript, then kglobalaccel forgets the actions
//   crash, stall                    | unloadScript, precomposed, on a connection of its own
#include "backends/kwin/kwin_script.h"

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "backends/kwin/kwin_keys.h"
#include "backends/system/crash_record.h"

namespace tolvane::kwin {

extern const char* const kShippedScript;

namespace {

// What the crash handler sends: one script at a time has shortcuts, so one slot is enough.
EmergencyCall* crashCall = nullptr;

void unloadAfterCrash() {
  if (crashCall) crashCall->send();
}

bool writeFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool whole = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && whole;
}

}  // namespace

std::string actionName(Trigger trigger) {
  return "Tolvane: " + std::string(triggerWord(trigger));
}

std::string composeScript(const ScriptSettings& settings) {
  nlohmann::json shortcuts = nlohmann::json::array();
  for (const auto& shortcut : settings.shortcuts) {
    const auto kwin = kwinShortcutOf(shortcut.combo);
    if (!kwin) continue;
    shortcuts.push_back({{"name", actionName(shortcut.trigger)},
                         {"sequence", kwin->sequence},
                         {"word", triggerWord(shortcut.trigger)}});
  }
  const nlohmann::json tolvane = {
      {"service", settings.service},           {"path", kTriggerPath},
      {"interface", kTriggerInterface},        {"beatMs", settings.beatMilliseconds},
      {"graceMs", settings.graceMilliseconds}, {"shortcuts", shortcuts},
  };
  return "var tolvane = " + tolvane.dump() + ";\n" + kShippedScript;
}

KWinScript::KWinScript(KWinBus& bus, std::string folder)
    : bus_(bus), path_(std::move(folder) + "/tolvane-kwin.js") {}

KWinScript::~KWinScript() {
  remove();
}

std::optional<KWinScript::Refusal> KWinScript::checkFree(
    const std::vector<ScriptShortcut>& shortcuts) {
  for (const auto& shortcut : shortcuts) {
    const auto kwin = kwinShortcutOf(shortcut.combo);
    if (!kwin) return Refusal{shortcut.combo, shortcut.combo + " has no name in KWin"};
    const auto actions = bus_.actionsOnKey(kwin->qtKey);
    if (!actions) continue;  // kglobalaccel did not answer: KWin decides when it registers
    for (const auto& action : *actions) {
      if (action.rfind("Tolvane: ", 0) == 0) continue;
      return Refusal{shortcut.combo,
                     kwin->sequence + " is bound in KDE's shortcuts (\"" + action + "\")"};
    }
  }
  return std::nullopt;
}

std::optional<KWinScript::Refusal> KWinScript::install(
    const std::vector<ScriptShortcut>& shortcuts) {
  if (shortcuts.empty()) {
    remove();
    return std::nullopt;
  }
  if (auto refusal = checkFree(shortcuts)) return refusal;
  std::string error;
  const std::string text = composeScript({.service = bus_.uniqueName(), .shortcuts = shortcuts});
  if (!writeFile(path_, text)) {
    return Refusal{shortcuts.front().combo, "the script could not be written to " + path_};
  }
  bus_.unloadScript(kScriptName);
  if (!bus_.loadScript(path_, kScriptName, error)) {
    return Refusal{shortcuts.front().combo, error};
  }
  installed_ = shortcuts;
  if (emergency_.prepare(composeMethodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                           "unloadScript", kScriptName, 0x7fff0001))) {
    crashCall = &emergency_;
    system::setCrashLastWords(unloadAfterCrash);
  }
  return std::nullopt;
}

void KWinScript::remove() {
  emergency_.disarm();
  if (installed_.empty()) return;
  bus_.unloadScript(kScriptName);
  for (const auto& shortcut : installed_) bus_.forgetAction(actionName(shortcut.trigger));
  installed_.clear();
  ::unlink(path_.c_str());
}

bool KWinScript::takeBackFromAnyThread() {
  return emergency_.send();
}

}  // namespace tolvane::kwin
