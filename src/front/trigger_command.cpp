// A trigger press in one connection to the instance, and what happens when nobody answers.
#include "front/trigger_command.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "backends/sway/compositor_lines.h"
#include "backends/sway/sway_bindings.h"
#include "backends/sway/trigger_bindings.h"
#include "backends/system/desktop_notification.h"
#include "backends/system/json_preference_store.h"
#include "backends/system/keyboard_sentinel.h"
#include "backends/system/posix_file_system.h"
#include "backends/system/real_clock.h"
#include "backends/system/single_instance.h"
#include "backends/system/unique_fd.h"
#include "backends/system/user_paths.h"
#include "diagnostics/debug_log.h"
#include "front/hand_off.h"
#include "front/session_display.h"
#include "model/compositor_trigger.h"
#include "platform/system_info.h"
#include "settings/setting_table.h"

namespace tolvane::front {

namespace {

/// What the kernel says of `pid` under /proc: its scheduling state and its command name.
struct ProcessFacts {
  std::optional<char> state;
  std::string command;
};

std::string readSmall(const std::string& path) {
  system::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return {};
  char buffer[1024];
  const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

ProcessFacts factsOf(std::int32_t pid) {
  const std::string folder = "/proc/" + std::to_string(pid);
  std::string command = readSmall(folder + "/comm");
  if (!command.empty() && command.back() == '\n') command.pop_back();
  return {system::processStateOfStat(readSmall(folder + "/stat")), command};
}

/// Says why a trigger press switched nothing where the user looks: the compositor's standard
/// error is read by nobody, so also a desktop notification and Tolvane's log. The log is
/// appended to only when no instance of this display runs any more (none listened, or the
/// stopped one was just ended), so that no running instance writes this display's lines at the
/// same time.
void tellUser(const std::string& message) {
  std::fprintf(stderr, "tolvane: %s\n", message.c_str());
  system::PosixFileSystem files;
  system::RealClock clock;
  DebugLog(files, clock, system::currentUserPaths().dataHome + "/" + BundleInfo{}.identifier)
      .log("trigger: " + message);
  system::showDesktopNotification("Tolvane did not switch windows", message);
}

/// The instance took the connection's place in its queue but never answered. A stopped one
/// runs no thread that could give a held keyboard back, and only ending it returns the
/// keyboard; a running one is merely slow, and its own watchdog guards the keyboard.
int answerSilence(std::int32_t pid) {
  if (pid <= 0) {
    std::fputs("tolvane: the running Tolvane did not answer\n", stderr);
    return 1;
  }
  const ProcessFacts facts = factsOf(pid);
  const bool stopped = facts.state == 'T' || facts.state == 't';
  // The kernel cuts command names to 15 characters, which "tolvane-desktop" just fits.
  if (stopped && facts.command == "tolvane-desktop" && ::kill(pid, SIGKILL) == 0) {
    tellUser("Tolvane (pid " + std::to_string(pid) +
             ") was stopped and did not answer the key press; it was ended so that it cannot "
             "keep the keyboard. Start it again with tolvane.");
    return 1;
  }
  std::fprintf(stderr, "tolvane: the running Tolvane (pid %d) did not answer within %.1f s\n",
               static_cast<int>(pid), system::SingleInstance::kHandOffSeconds);
  return 1;
}

/// The setting `key` as the desktop program reads it: the stored value when the settings table
/// accepts it, else the default.
template <typename T>
T storedSetting(const PreferenceStore& store, std::string_view key) {
  const SettingEntry* entry = findSetting(key);
  auto value = store.value(key);
  if (!value || !entry->accepts(*value)) value = entry->defaultValue();
  return std::get<T>(*value);
}

/// The combinations the user's settings choose, read from the preference file without
/// changing it: the switcher's triggers, then the palette's hot key.
std::vector<sway::Binding> chosenBindings() {
  system::PosixFileSystem files;
  system::RealClock clock;
  const std::string path =
      system::currentUserPaths().configHome + "/" + BundleInfo{}.identifier + "/preferences.json";
  const system::JsonPreferenceStore store(files, clock, path, [](const std::string&) {});
  auto bindings = sway::triggerBindings(
      {.interceptTab = storedSetting<bool>(store, prefkey::kInterceptCmdTab),
       .interceptKeyAboveTab = storedSetting<bool>(store, prefkey::kInterceptAppCycle),
       .triggerIsOption = storedSetting<bool>(store, prefkey::kSwitcherUsesOption)});
  const auto palette = sway::comboOf(
      static_cast<std::uint16_t>(storedSetting<std::int64_t>(store, prefkey::kPaletteKeyCode)),
      static_cast<std::uint32_t>(storedSetting<std::int64_t>(store, prefkey::kPaletteModifiers)));
  if (palette) bindings.push_back({*palette, Trigger::palette});
  return bindings;
}

}  // namespace

int runTrigger(int argc, char** argv) {
  const auto trigger = argc == 3 ? triggerOfWord(argv[2]) : std::nullopt;
  if (!trigger) {
    std::fputs("usage: tolvane trigger next|previous|app-next|app-previous|palette\n", stderr);
    return 2;
  }
  const SessionDisplay session = sessionDisplay(false);
  std::string note;
  const auto runtime = system::currentRuntimeFolder(note);
  if (session.name.empty() || !runtime) {
    std::fprintf(
        stderr, "tolvane: %s\n",
        note.empty() ? "no display (neither WAYLAND_DISPLAY nor DISPLAY is set)" : note.c_str());
    return 1;
  }
  std::int32_t peer = 0;
  const std::string message = triggerMessage(*trigger);
  const auto outcome = system::SingleInstance::send(*runtime, session.identity, message,
                                                    system::SingleInstance::kHandOffSeconds, &peer);
  switch (outcome) {
    case system::SingleInstance::HandOff::delivered:
      return 0;
    case system::SingleInstance::HandOff::noInstance:
      tellUser("Tolvane is not running on display " + session.name +
               "; start it with tolvane, then the key press switches windows.");
      return 1;
    case system::SingleInstance::HandOff::busy:
      return handOffStatus(outcome).value_or(1);
    case system::SingleInstance::HandOff::notAcknowledged:
      break;
  }
  return answerSilence(peer);
}

int printBindings(int argc, char** argv) {
  const auto lines = argc == 3 ? sway::compositorLines(argv[2], chosenBindings()) : std::nullopt;
  if (!lines) {
    std::fprintf(stderr, "usage: tolvane --print-bindings %s\n", sway::compositorChoices().c_str());
    return 2;
  }
  std::fputs(lines->c_str(), stdout);
  return 0;
}

}  // namespace tolvane::front
