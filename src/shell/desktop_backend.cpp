// Wiring the real services together.
#include "shell/desktop_backend.h"

#include <unistd.h>
#include <QGuiApplication>

#include "backends/system/continue_signal.h"
#include "backends/system/executable_path.h"
#include "backends/system/secret_store_choice.h"
#include "backends/system/user_paths.h"
#include "backends/x11/x11_display_hints.h"
#include "cloud/cloud_account.h"

namespace tolvane::shell {

std::unique_ptr<DesktopBackend> DesktopBackend::create(const BundleInfo& bundle,
                                                       std::string& error) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) {
    error = "Tolvane needs an X11 display (DISPLAY is not set, or Qt runs without xcb)";
    return nullptr;
  }
  // Qt reads this connection; the services only send requests on it and take the events Qt
  // hands over through the native event filter.
  auto connection = x11::Connection::borrow(x11->connection());
  if (!connection) {
    error = "the X11 connection is not usable";
    return nullptr;
  }
  return std::unique_ptr<DesktopBackend>(new DesktopBackend(bundle, std::move(connection)));
}

DesktopBackend::DesktopBackend(const BundleInfo& bundle,
                               std::unique_ptr<x11::Connection> connection)
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
                .arch = system_.architecture()}),
      connection_(std::move(connection)),
      tap_(
          *connection_, clock_, [this] { return triggerCombinations(); },
          [this](std::string_view line) { log_.log(line); }),
      desktop_(*connection_, runLoop_, [this] { return tap_.keyboardGrabbedElsewhere(); }),
      hotKeys_(*connection_),
      panel_([this] { return x11::compositorRunning(*connection_); }),
      paletteGrab_(*connection_),
      palettePanel_(
          &paletteGrab_, [this] { return x11::compositorRunning(*connection_); },
          [this](std::string_view line) { log_.log(line); }),
      keyMonitor_([this](std::uint32_t keycode, std::uint32_t state) {
        return tap_.keyMap().keyDown(keycode, state);
      }) {
  tap_.setStopDetector(system::takeContinueSignal);
  connectGrabs();
  connectIcons();
  connectOwnWindows();
  services_ = collectServices(bundle);
}

std::vector<x11::TriggerCombination> DesktopBackend::triggerCombinations() const {
  if (!settings_) return {};
  return x11::triggerCombinations({.interceptTab = settings_->interceptCmdTab(),
                                   .interceptKeyAboveTab = settings_->interceptAppCycle(),
                                   .triggerIsOption = settings_->switcherUsesOption()});
}

void DesktopBackend::connectGrabs() {
  // The watchdog's release through the tap lets go of the palette's grabs too.
  paletteGrab_.setHoldObserver(
      [this](bool held) { tap_.setWindowGrabHeld(held, x11::X11EventTap::WindowGrab::palette); });
  // Qt's grab for the tray menu is of the same connection: the watchdog lets go of it too.
  // Qt then closes the menu by itself once the main thread is back.
  statusItem_.setMenuGrabObserver(
      [this](bool held) { tap_.setWindowGrabHeld(held, x11::X11EventTap::WindowGrab::trayMenu); });
}

void DesktopBackend::connectIcons() {
  auto applicationIcons = [this](const std::string& bundleID) {
    return desktop_.iconPNG(bundleID);
  };
  auto windowIcons = [this](std::uint32_t window, int side) {
    return desktop_.windowIcon(window, side);
  };
  panel_.setIconSources(applicationIcons, windowIcons);
  palettePanel_.setIconSources(applicationIcons, windowIcons);
  statusItem_.setIconSource(applicationIcons);
  statusItem_.setInkSource([this] { return x11::trayForeground(*connection_); });
  chooserIcons_ = std::make_unique<qt::AppIcons>(applicationIcons);
  settingsWindow_.setIconSource(applicationIcons);
  interaction_.setIconSource(
      [this](const std::string& bundleID) { return chooserIcons_->icon(bundleID); });
  // A relaunched or updated application gets its icon read again. The observer lives as long
  // as the desktop that calls it.
  desktop_.addObserver(WorkspaceEvent::launched, [](const RunningApp& app) {
    if (app.bundleID) qt::AppIcons::applicationLaunched(*app.bundleID);
  });
}

void DesktopBackend::connectOwnWindows() {
  const auto activateOwn = [this](unsigned long window) {
    desktop_.activateOwnWindow(static_cast<std::uint32_t>(window));
  };
  settingsWindow_.setActivator(activateOwn);
  onboardingWindow_.setActivator(activateOwn);
  onboardingWindow_.setReducedMotion([this] { return interaction_.prefersReducedMotion(); });
}

Services DesktopBackend::collectServices(const BundleInfo& bundle) {
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
          .workspace = &desktop_,
          .accessibility = &desktop_,
          .windowServer = &desktop_,
          .eventTap = &tap_,
          .hotKeys = &hotKeys_,
          .screens = &screens_,
          .switcherPanel = &panel_,
          .palettePanel = &palettePanel_,
          .statusItem = &statusItem_,
          .settingsWindow = &settingsWindow_,
          .onboardingWindow = &onboardingWindow_,
          .interaction = &interaction_,
          .catalog = &desktop_,
          .keyMonitor = &keyMonitor_};
}

DesktopBackend::~DesktopBackend() = default;

}  // namespace tolvane::shell
