// A scenario for the simulated desktop, as data: the desktop and its applications at launch,
// the preferences Tolvane starts with, and a timeline of what happens afterwards. Parsed from
// JSON with every mistake reported by the line or field it is in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "backends/sim/sim_desktop.h"
#include "base/geometry.h"
#include "platform/preferences.h"

namespace tolvane::simtool {

struct RemoteTokenPlacement {
  std::int64_t elementId = 0;
  std::uint32_t window = 0;
};

/// An application with its windows, as the scenario describes it.
struct ScenarioApp {
  sim::SimApp app;
  std::vector<sim::SimWindow> windows;
  /// Window number → element id at which a remote token resolves it.
  std::vector<RemoteTokenPlacement> remoteTokens;
  std::optional<std::uint32_t> focusedWindow;
  bool frontmost = false;
};

enum class ActionKind {
  advance,
  keyDown,
  keyUp,
  press,
  loseKeyUp,
  focus,
  launchApp,
  quitApp,
  hang,
  openWindow,
  closeWindow,
  minimize,
  switchSpace,
  secureInput,
  stall,
  url,
  click,
  paletteHotKey,
  type,
  paletteKey,
  trayMenu,
  signIn,
  signOut,
  serverReply,
  quit,
};

/// One step of the timeline. Only the fields of its kind are meaningful.
struct Action {
  ActionKind kind = ActionKind::advance;
  /// The step's position, "timeline[3]", for messages.
  std::string where;
  double seconds = 0;
  std::uint16_t keyCode = 0;
  std::string keyName;
  /// The modifier flags the event carries; nothing means "whatever is held at that moment".
  std::optional<std::uint64_t> flags;
  std::uint32_t window = 0;
  Pid pid = 0;
  int space = 1;
  bool enabled = true;
  std::optional<Pid> holder;
  std::string url;
  int slot = 0;
  /// The search text (type), the entry to choose (trayMenu, empty: only look), the code the
  /// browser returns (signIn), the reply's body (serverReply).
  std::string text;
  /// The reply's status (serverReply); nothing: no reply at all.
  std::optional<int> status;
  std::optional<ScenarioApp> app;
  std::optional<sim::SimWindow> newWindow;
};

struct Scenario {
  bool trusted = true;
  int currentSpace = 1;
  sim::PrivateFunctions available;
  std::optional<Rect> screen = Rect{0, 25, 1512, 875};
  int screenCount = 1;
  std::vector<std::pair<std::string, PrefValue>> preferences;
  std::vector<ScenarioApp> apps;
  std::vector<Action> timeline;
};

/// A scenario, or the reason it was refused ("timeline[2].window: no window 404 exists at this
/// point", "line 7, column 3: not valid JSON: ...").
using ParseResult = std::variant<Scenario, std::string>;

ParseResult parseScenario(const std::string& text);

/// The product key code for a key name ("tab", "keyAboveTab", "command", "escape", "3", or a
/// number); nothing when the name is unknown.
std::optional<std::uint16_t> keyCodeNamed(const std::string& name);
/// Whether the key is a modifier (its events are flag changes), and the flag it holds.
std::optional<std::uint64_t> modifierFlag(std::uint16_t keyCode);
/// "command+shift", or "none".
std::string flagNames(std::uint64_t flags);

}  // namespace tolvane::simtool
