// The trigger words and the hand-off message that carries one.
#include "model/compositor_trigger.h"

#include <array>
#include <utility>

namespace tolvane {
namespace {

constexpr std::string_view kMessagePrefix = "trigger ";

constexpr std::array<std::pair<Trigger, std::string_view>, 5> kWords = {{
    {Trigger::next, "next"},
    {Trigger::previous, "previous"},
    {Trigger::appNext, "app-next"},
    {Trigger::appPrevious, "app-previous"},
    {Trigger::palette, "palette"},
}};

}  // namespace

std::string_view triggerWord(Trigger trigger) {
  for (const auto& [known, word] : kWords) {
    if (known == trigger) return word;
  }
  return {};
}

std::optional<Trigger> triggerOfWord(std::string_view word) {
  for (const auto& [trigger, known] : kWords) {
    if (known == word) return trigger;
  }
  return std::nullopt;
}

std::string triggerMessage(Trigger trigger) {
  return std::string(kMessagePrefix) + std::string(triggerWord(trigger));
}

bool isTriggerMessage(std::string_view message) {
  return message.starts_with(kMessagePrefix);
}

std::optional<Trigger> triggerOfMessage(std::string_view message) {
  if (!isTriggerMessage(message)) return std::nullopt;
  return triggerOfWord(message.substr(kMessagePrefix.size()));
}

}  // namespace tolvane
