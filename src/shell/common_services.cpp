// Wiring of the services every desktop shares.
#include "shell/common_services.h"

#include <unistd.h>

#include "backends/system/executable_path.h"
#include "backends/system/user_paths.h"
#include "cloud/cloud_account.h"

namespace tolvane::shell {

CommonServices::CommonServices(const BundleInfo& bundle)
    : paths_(system::currentUserPaths()),
      preferencesPath_(paths_.configHome + "/" + bundle.identifier + "/preferences.json"),
      log_(files_, clock_, paths_.dataHome + "/" + bundle.identifier),
      preferences_(files_, clock_, preferencesPath_,
                   // A preference file set aside or unreadable is worth telling a user who
                   // started Tolvane from a terminal.
                   [this](const std::string& line) { log_.notice(line); }),
      loginItems_(files_, paths_.configHome + "/autostart/" + bundle.identifier + ".desktop",
                  // The front door, not this program: it is what a user starts and what
                  // stays where it is when the program behind it moves.
                  system::companionProgram(TOLVANE_BINDIR_FROM_PROGRAMS, "tolvane")
                      .value_or(system::executablePath().value_or("tolvane"))),
      http_("Tolvane/" + bundle.shortVersion.value_or("0")),
      // Opened off the main thread: a keyring's D-Bus activation can take two seconds, and
      // start-up does not wait for it; the account does.
      secrets_(
          runLoop_,
          [this, bundle] {
            return system::makeSecretStore(
                bundle, paths_,
                {secretkey::kCloudToken, secretkey::kCloudTokenBase, secretkey::kCloudEmail,
                 secretkey::kCloudTier, secretkey::kCloudDeviceID, secretkey::kCloudSyncAccount},
                files_, ::getuid(), log_);
          }),
      coredumps_(system::executablePath().value_or("")),
      crashes_({.recordFolder = system::crashRecordFolder(paths_, bundle),
                .journal = coredumps_,
                .clock = clock_,
                .osVersion = system_.osVersion(),
                .arch = system_.architecture()}) {
  onboardingWindow_.setReducedMotion([this] { return interaction_.prefersReducedMotion(); });
}

void CommonServices::connectIcons(const qt::AppIcons::Source& source) {
  statusItem_.setIconSource(source);
  chooserIcons_ = std::make_unique<qt::AppIcons>(source);
  settingsWindow_.setIconSource(source);
  interaction_.setIconSource(
      [this](const std::string& bundleID) { return chooserIcons_->icon(bundleID); });
}

void CommonServices::connectActivation(const std::function<void(unsigned long)>& activate) {
  settingsWindow_.setActivator(activate);
  onboardingWindow_.setActivator(activate);
}

Services CommonServices::services(const BundleInfo& bundle, const DesktopServices& desktop) {
  return {.clock = &clock_,
          .runLoop = &runLoop_,
          .files = &files_,
          .paths = paths_,
          .bundle = bundle,
          .system = &system_,
          .random = &random_,
          .preferences = &preferences_,
          .loginItems = &loginItems_,
          .systemLog = &systemLog_,
          .processLog = &processLog_,
          .secrets = &secrets_,
          .digest = &digest_,
          .feedParser = &feedParser_,
          .http = &http_,
          .crashDiagnostics = &crashes_,
          .workspace = desktop.workspace,
          .accessibility = desktop.accessibility,
          .windowServer = desktop.windowServer,
          .eventTap = desktop.eventTap,
          .hotKeys = desktop.hotKeys,
          .screens = desktop.screens,
          .switcherPanel = desktop.switcherPanel,
          .palettePanel = desktop.palettePanel,
          .statusItem = &statusItem_,
          .settingsWindow = &settingsWindow_,
          .onboardingWindow = &onboardingWindow_,
          .interaction = &interaction_,
          .catalog = desktop.catalog,
          .keyMonitor = desktop.keyMonitor};
}

}  // namespace tolvane::shell
