// Tolvane's triggers as sway bindings: their commands, their events, and installing them over
// IPC around the user's own.
#include "backends/sway/sway_bindings.h"

#include <algorithm>
#include <cctype>

#include "backends/sway/sway_text.h"

namespace tolvane::sway {
namespace {

constexpr std::string_view kCommandPrefix = "nop tolvane ";
/// An error sway gives is cut to this before it is kept for the log.
constexpr std::size_t kMaxErrorBytes = 1024;
constexpr std::size_t kMaxComboBytes = 256;

// Key names and "+" only: a combo goes into a command line, where a blank, a quote, a ',' or
// a ';' would end it and begin another command.
bool isSafeCombo(std::string_view combo) {
  if (combo.empty() || combo.size() > kMaxComboBytes || combo.front() == '-') return false;
  return std::all_of(combo.begin(), combo.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '_' || c == '-';
  });
}

// The first command's outcome in a RUN_COMMAND reply: absent on success, else the reason.
std::optional<std::string> commandError(const std::optional<nlohmann::json>& reply) {
  if (!reply) return "sway did not answer";
  if (!reply->is_array() || reply->empty() || !reply->front().is_object()) {
    return "sway's answer made no sense";
  }
  const nlohmann::json& outcome = reply->front();
  const auto success = outcome.find("success");
  if (success != outcome.end() && success->is_boolean() && success->get<bool>()) {
    return std::nullopt;
  }
  const auto error = outcome.find("error");
  if (error != outcome.end() && error->is_string()) {
    return cutUtf8(error->get_ref<const std::string&>(), kMaxErrorBytes);
  }
  return "sway refused the binding";
}

std::optional<std::string> configText(const SwayBindings::Request& request) {
  const auto reply = request(ipc::kGetConfig, "");
  if (!reply || !reply->is_object()) return std::nullopt;
  const auto config = reply->find("config");
  if (config == reply->end() || !config->is_string()) return std::nullopt;
  return config->get<std::string>();
}

bool comboIn(const std::vector<std::string>& combos, std::string_view combo) {
  return std::any_of(combos.begin(), combos.end(),
                     [&](const std::string& known) { return sameCombo(known, combo); });
}

}  // namespace

std::string bindingCommand(Trigger trigger) {
  return std::string(kCommandPrefix) + std::string(triggerWord(trigger));
}

std::optional<Trigger> triggerOfBindingEvent(const nlohmann::json& body) {
  if (!body.is_object()) return std::nullopt;
  const auto change = body.find("change");
  const auto binding = body.find("binding");
  if (change == body.end() || *change != "run" || binding == body.end() || !binding->is_object()) {
    return std::nullopt;
  }
  const auto command = binding->find("command");
  if (command == binding->end() || !command->is_string()) return std::nullopt;
  const std::string_view text = command->get_ref<const std::string&>();
  if (text.substr(0, kCommandPrefix.size()) != kCommandPrefix) return std::nullopt;
  return triggerOfWord(text.substr(kCommandPrefix.size()));
}

SwayBindings::Outcome SwayBindings::install(const std::vector<Binding>& bindings) {
  Outcome outcome;
  const std::optional<std::string> config = configText(request_);
  const std::vector<std::string> taken =
      config ? configuredCombos(*config) : std::vector<std::string>();
  for (const Binding& binding : bindings) {
    std::vector<std::string> ours;
    for (const Binding& installed : installed_) ours.push_back(installed.combo);
    if (!config) {
      outcome.refused.emplace_back(binding, "sway's configuration could not be read");
    } else if (!isSafeCombo(binding.combo)) {
      outcome.refused.emplace_back(binding, "not a key combination");
    } else if (comboIn(taken, binding.combo)) {
      outcome.takenByConfig.push_back(binding);
    } else if (comboIn(ours, binding.combo)) {
      outcome.refused.emplace_back(binding, "Tolvane binds this combination already");
    } else if (auto error = bind(binding)) {
      outcome.refused.emplace_back(binding, std::move(*error));
    } else {
      installed_.push_back(binding);
      outcome.installed.push_back(binding);
    }
  }
  composeRemoval();
  return outcome;
}

std::optional<std::string> SwayBindings::bind(const Binding& binding) {
  const std::string command =
      "bindsym --no-repeat " + binding.combo + " " + bindingCommand(binding.trigger);
  return commandError(request_(ipc::kRunCommand, command));
}

void SwayBindings::composeRemoval() {
  removalPayload_.clear();
  for (const Binding& binding : installed_) {
    if (!removalPayload_.empty()) removalPayload_.push_back(';');
    removalPayload_.append("unbindsym ").append(binding.combo);
  }
}

void SwayBindings::removeAll() {
  if (installed_.empty()) return;
  // sway answers each command; a binding that is gone already (a reload dropped it) is no
  // reason to keep the others, so the answers are not read.
  request_(ipc::kRunCommand, removalPayload_);
  installed_.clear();
  composeRemoval();
}

std::string joinedCombos(const std::vector<Binding>& bindings) {
  std::string text;
  for (const auto& binding : bindings) text += (text.empty() ? "" : ", ") + binding.combo;
  return text;
}

}  // namespace tolvane::sway
