// The key bindings Tolvane adds to sway at run time, and the user's own that they must not
// override.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "backends/sway/sway_ipc.h"
#include "model/compositor_trigger.h"

namespace tolvane::sway {

/// One binding: `combo` in sway's syntax ("Mod4+Tab", "Mod4+Shift+Tab", "Mod1+space").
struct Binding {
  std::string combo;
  Trigger trigger = Trigger::next;
  bool operator==(const Binding&) const = default;
};

/// The bindings' combos as a log line says them: "Mod4+Tab, Mod4+Shift+Tab".
std::string joinedCombos(const std::vector<Binding>& bindings);

/// The command a Tolvane binding runs: "nop tolvane <word>", which sway reports and ignores.
std::string bindingCommand(Trigger trigger);
/// The trigger of a binding event's body, when its command is exactly a Tolvane one.
std::optional<Trigger> triggerOfBindingEvent(const nlohmann::json& body);

/// The combos that the default mode of `configText` (GET_CONFIG's "config") binds with bindsym
/// on key press, variables substituted. Release bindings are left out: they do not collide with
/// a press binding of the same combo.
std::vector<std::string> configuredCombos(std::string_view configText);
/// Whether two combos name the same keys: modifiers as a set under their aliases (Ctrl and
/// Control, Alt and Mod1, Super and Mod4, Caps and Lock), names compared without case.
bool sameCombo(std::string_view a, std::string_view b);

/// Installs and removes Tolvane's bindings over a command connection.
class SwayBindings {
 public:
  static constexpr double kCommandTimeoutSeconds = 2.0;

  /// One request to sway and its reply; absent when sway did not answer.
  using Request =
      std::function<std::optional<nlohmann::json>(std::uint32_t type, std::string_view payload)>;

  /// `commands` must outlive this object.
  explicit SwayBindings(SwayIpc& commands)
      : SwayBindings([&commands](std::uint32_t type, std::string_view payload) {
          return commands.request(type, payload, kCommandTimeoutSeconds);
        }) {}
  explicit SwayBindings(Request request) : request_(std::move(request)) {}

  /// What install() did with each binding it was given.
  struct Outcome {
    std::vector<Binding> installed;
    /// Combos the user's configuration binds already; left to it.
    std::vector<Binding> takenByConfig;
    /// Bindings sway or Tolvane refused, with the reason.
    std::vector<std::pair<Binding, std::string>> refused;
  };

  /// Reads the configuration once and binds every combo it leaves free. A binding Tolvane left
  /// behind in an earlier run is replaced.
  Outcome install(const std::vector<Binding>& bindings);
  /// Unbinds every binding installed so far.
  void removeAll();
  /// The RUN_COMMAND payload that unbinds every installed binding, kept ready for
  /// sendPrecomposed() from a crash or signal handler; empty when none is installed.
  const std::string& removalPayload() const { return removalPayload_; }
  const std::vector<Binding>& installed() const { return installed_; }

 private:
  std::optional<std::string> bind(const Binding& binding);
  void composeRemoval();

  Request request_;
  std::vector<Binding> installed_;
  std::string removalPayload_;
};

}  // namespace tolvane::sway
