// KWin over the session bus: loading and unloading a script, asking kglobalaccel who holds a
// key, and the object through which the script's shortcuts reach Tolvane. Every call waits a
// bounded time: KWin answers within milliseconds, and a KWin that does not must not hold the
// main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::kwin {

/// The object the script calls: its path and interface, and the methods' names.
inline constexpr std::string_view kTriggerPath = "/com/brenmoor/tolvane/KWin";
inline constexpr std::string_view kTriggerInterface = "com.brenmoor.tolvane.KWin";

/// Main thread only.
class KWinBus {
 public:
  static constexpr double kCallTimeoutSeconds = 1.0;

  /// What the script's calls do: a shortcut's trigger word, and whether a session of Tolvane
  /// holds the keyboard (the script's heartbeat).
  struct Handlers {
    std::function<void(std::string_view word)> trigger;
    std::function<bool()> heartbeat;
  };

  /// Connects to the session bus; nothing, with `error` set, when there is none.
  static std::unique_ptr<KWinBus> connect(std::string& error);
  ~KWinBus();
  KWinBus(const KWinBus&) = delete;
  KWinBus& operator=(const KWinBus&) = delete;

  /// The connection's unique name (":1.42"): the script calls that, never a well-known name,
  /// so a script left by a killed run calls nobody.
  const std::string& uniqueName() const { return uniqueName_; }
  /// The socket to watch for readability; process() handles what arrived.
  int fd() const;
  /// Handles every message that arrived; false once the connection has ended.
  bool process();
  /// Serves the trigger object with `handlers` from now on.
  bool serve(Handlers handlers);

  /// Whether KWin's scripting answers on this bus.
  bool kwinAnswers();
  /// Loads the script at `path` under `name` and runs it; false (with `error`) when KWin
  /// refused or did not answer.
  bool loadScript(const std::string& path, const std::string& name, std::string& error);
  /// Unloads the script `name`; true when one was loaded.
  bool unloadScript(const std::string& name);
  /// The shortcuts kglobalaccel has on `qtKey`, as their action names; nothing when it did not
  /// answer.
  std::optional<std::vector<std::string>> actionsOnKey(int qtKey);
  /// Forgets the global shortcut `action` of KWin's component (inactive once its script went).
  void forgetAction(const std::string& action);

  struct State;

 private:
  explicit KWinBus(std::unique_ptr<State> state);
  /// Runs `method` on KWin's `path`; its error in `error` when it failed.
  bool runScriptAt(const std::string& path, std::string& error);

  std::unique_ptr<State> state_;
  std::string uniqueName_;
  Handlers handlers_;
};

}  // namespace tolvane::kwin
