// A settings store on simulated services: an in-memory preference domain and a log whose lines
// a test can read; shared by the settings sync tests, its benchmark and the blob fuzz target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backends/sim/faulty_file_system.h"
#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_login_items.h"
#include "backends/sim/sim_preference_store.h"
#include "backends/sim/sim_system_log.h"
#include "backends/system/posix_file_system.h"
#include "diagnostics/debug_log.h"
#include "settings/app_settings.h"
#include "settings/preference_keys.h"

namespace tolvane::test {

/// A settings store on a later launch (no first-launch side effects) with a log that never
/// reaches a disk; `logLines` holds every line without its timestamp, `registered` every
/// registration of the palette hotkey.
struct SettingsWorld {
  explicit SettingsWorld(sim::SimPreferenceStore::Values seed = {})
      : preferences(withLaunchAtLogin(std::move(seed))) {
    noDisk.failCreates = true;
    log.setObserver(
        [this](std::string_view line) { logLines.emplace_back(line.substr(line.find(' ') + 1)); });
    settings.setPaletteHotKeyRegistrar([this](std::uint32_t key, std::uint32_t modifiers) {
      registered.emplace_back(key, modifiers);
    });
  }

  static sim::SimPreferenceStore::Values withLaunchAtLogin(sim::SimPreferenceStore::Values seed) {
    seed.emplace(prefkey::kLaunchAtLogin, true);
    return seed;
  }

  system::PosixFileSystem disk;
  sim::FaultyFileSystem noDisk{disk};
  sim::SimClock clock;
  DebugLog log{noDisk, clock, "/nonexistent/tolvane-sync-tests"};
  std::vector<std::string> logLines;
  sim::SimPreferenceStore preferences;
  sim::SimLoginItems loginItems;
  sim::SimSystemLog systemLog;
  AppSettings settings{preferences, loginItems, systemLog, log};
  std::vector<std::pair<std::uint32_t, std::uint32_t>> registered;
};

}  // namespace tolvane::test
