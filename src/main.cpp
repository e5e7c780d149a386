// Entry point of the `tolvane` executable.
//
// The X11 desktop backend does not exist yet. Until it does, this program runs the part of
// start-up that needs no display: it opens the real diagnostic log and preference file, loads
// the settings (creating the file and the login item on a first start), reports what it found
// and exits.
#include <cstdio>
#include <string>

#include "app/app_settings.h"
#include "app/debug_log.h"
#include "platform/system/autostart_login_items.h"
#include "platform/system/executable_path.h"
#include "platform/system/json_preference_store.h"
#include "platform/system/posix_file_system.h"
#include "platform/system/real_clock.h"
#include "platform/system/syslog_system_log.h"
#include "platform/system/user_paths.h"
#include "platform/system_info.h"

namespace {

const char* yesNo(bool value) {
  return value ? "yes" : "no";
}

void printSettings(const tolvane::AppSettings& s) {
  std::printf("  switcher takes over Super-Tab:       %s\n", yesNo(s.interceptCmdTab()));
  std::printf("  ... and Super plus the key above Tab: %s\n", yesNo(s.interceptAppCycle()));
  std::printf("  trigger is Alt instead of Super:     %s\n", yesNo(s.switcherUsesOption()));
  std::printf("  switcher paused:                     %s\n", yesNo(s.switcherPaused()));
  std::printf("  list minimized windows:              %s\n", yesNo(s.showMinimizedWindows()));
  std::printf("  list windows of hidden applications: %s\n", yesNo(s.showHiddenAppWindows()));
  std::printf("  palette hotkey:                      key %lld, modifiers %lld\n",
              static_cast<long long>(s.paletteKeyCode()),
              static_cast<long long>(s.paletteModifiers()));
  std::printf("  excluded applications:               %zu\n", s.excludedBundleIDs().size());
  std::printf("  interface language:                  %s\n",
              s.languageCode() ? s.languageCode()->c_str() : "system");
  std::printf("  start at login:                      %s\n", yesNo(s.launchAtLogin()));
  std::printf("  crash reports / usage data:          %s / %s\n", yesNo(s.crashReportingEnabled()),
              yesNo(s.improveDataSharing()));
}

}  // namespace

int main() {
  using namespace tolvane;
  const BundleInfo bundle{.shortVersion = TOLVANE_VERSION, .build = TOLVANE_VERSION};
  const UserPaths paths = system::currentUserPaths();
  const std::string dataFolder = paths.dataHome + "/" + bundle.identifier;
  const std::string configFolder = paths.configHome + "/" + bundle.identifier;

  system::RealClock clock;
  system::PosixFileSystem files;
  DebugLog log(files, clock, dataFolder);
  log.log("launch: tolvane " + *bundle.shortVersion + " (no desktop backend yet)");
  system::JsonPreferenceStore preferences(files, clock, configFolder + "/preferences.json",
                                          [&log](const std::string& line) { log.log(line); });
  system::AutostartLoginItems loginItems(
      files, paths.configHome + "/autostart/" + bundle.identifier + ".desktop",
      system::executablePath().value_or("tolvane"));
  system::SyslogSystemLog systemLog;
  AppSettings settings(preferences, loginItems, systemLog, log);

  std::printf("Tolvane %s\n\n", bundle.shortVersion->c_str());
  std::printf("Settings (%s):\n", (configFolder + "/preferences.json").c_str());
  printSettings(settings);
  std::printf("\nDiagnostic log: %s\n", log.filePath().c_str());
  std::printf(
      "\nThe X11 desktop backend is not built yet, so the switcher cannot run on this desktop.\n"
      "It runs end to end on the simulated desktop in the test suite (bash scripts/test.sh).\n");
  return preferences.persists() ? 0 : 1;
}
