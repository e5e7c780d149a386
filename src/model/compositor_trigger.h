// A compositor trigger: the word a desktop's key binding sends Tolvane (sway's binding command,
// the front door's `tolvane trigger WORD`, a compositor script's call), the same for every
// desktop and every way it arrives.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

/// What a compositor binding asks Tolvane to do.
enum class Trigger { next, previous, appNext, appPrevious, palette };

/// The word naming `trigger`: "next", "app-next"…
std::string_view triggerWord(Trigger trigger);
/// The trigger `word` names, exactly.
std::optional<Trigger> triggerOfWord(std::string_view word);

/// The message the front door hands a running instance for `trigger`: "trigger WORD".
std::string triggerMessage(Trigger trigger);
/// Whether `message` is a trigger hand-off at all, whatever its word.
bool isTriggerMessage(std::string_view message);
/// The trigger a hand-off message names; nothing for any other message or an unknown word.
std::optional<Trigger> triggerOfMessage(std::string_view message);

}  // namespace tolvane
