// Wiring the real services together.
#include "shell/desktop_backend.h"

#include <xcb/xcb.h>

#include <unistd.h>
#include <QGuiApplication>

#include <cstdlib>

#include "cloud/cloud_account.h"
#include "platform/system/continue_signal.h"
#include "platform/system/executable_path.h"
#include "platform/system/secret_store_choice.h"
#include "platform/system/user_paths.h"

namespace tolvane::shell {

namespace {

/// The screen the display name names (":1.0" is screen 0 of display 1).
int screenNumberOfDisplay() {
  int screen = 0;
  char* host = nullptr;
  int display = 0;
  if (!xcb_parse_display(nullptr, &host, &display, &screen)) screen = 0;
  std::free(host);
  return screen;
}

}  // namespace

std::unique_ptr<DesktopBackend> DesktopBackend::create(const BundleInfo& bundle,
                                                       std::string& error) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) {
    error = "Tolvane needs an X11 display (DISPLAY is not set, or Qt runs without xcb)";
    return nullptr;
  }
  // Qt reads this connection; the services only send requests on it and take the events Qt
  // hands over through the native event filter.
  auto connection = x11::Connection::borrow(x11->connection(), screenNumberOfDisplay());
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
                  system::executablePath().value_or("tolvane")),
      http_("Tolvane/" + bundle.shortVersion.value_or("0")),
      secrets_(system::makeSecretStore(
          bundle, paths_,
          {secretkey::kCloudToken, secretkey::kCloudTokenBase, secretkey::kCloudEmail,
           secretkey::kCloudTier, secretkey::kCloudDeviceID, secretkey::kCloudSyncAccount},
          files_, ::getuid(), log_)),
      coredumps_(system::executablePath().value_or("")),
      crashes_({.recordFolder = system::crashRecordFolder(paths_, bundle),
                .journal = coredumps_,
                .osVersion = system_.osVersion(),
                .arch = system_.architecture()}),
      connection_(std::move(connection)),
      tap_(
          *connection_,
          [this] {
            if (!settings_) return std::vector<x11::TriggerCombination>{};
            return x11::triggerCombinations({.interceptTab = settings_->interceptCmdTab(),
                                             .interceptKeyAboveTab = settings_->interceptAppCycle(),
                                             .triggerIsOption = settings_->switcherUsesOption()});
          },
          [this](std::string_view line) { log_.log(line); }),
      desktop_(*connection_, runLoop_, [this] { return tap_.keyboardGrabbedElsewhere(); }),
      hotKeys_(*connection_),
      paletteGrab_(*connection_),
      palettePanel_(&paletteGrab_, {}, [this](std::string_view line) { log_.log(line); }),
      keyMonitor_([this](std::uint32_t keycode, std::uint32_t state) {
        const x11::KeyMap& keys = tap_.keyMap();
        return KeyEvent{KeyEventType::keyDown, keys.keyCode(static_cast<xcb_keycode_t>(keycode)),
                        keys.flags(static_cast<std::uint16_t>(state))};
      }) {
  tap_.setStopDetector(system::takeContinueSignal);
  // The watchdog's release through the tap lets go of the palette's grabs too.
  paletteGrab_.setHoldObserver(
      [this](bool held) { tap_.setWindowGrabHeld(held, x11::X11EventTap::WindowGrab::palette); });
  // Qt's grab for the tray menu is of the same connection: the watchdog lets go of it too.
  // Qt then closes the menu by itself once the main thread is back.
  statusItem_.setMenuGrabObserver(
      [this](bool held) { tap_.setWindowGrabHeld(held, x11::X11EventTap::WindowGrab::trayMenu); });
  auto applicationIcons = [this](const std::string& bundleID) {
    return desktop_.iconPNG(bundleID);
  };
  auto windowIcons = [this](std::uint32_t window, int side) {
    return desktop_.windowIcon(window, side);
  };
  panel_.setIconSources(applicationIcons, windowIcons);
  palettePanel_.setIconSources(applicationIcons, windowIcons);
  statusItem_.setIconSource(applicationIcons);
  chooserIcons_ = std::make_unique<qt::AppIcons>(applicationIcons);
  settingsWindow_.setIconSource(applicationIcons);
  const auto activateOwn = [this](unsigned long window) {
    desktop_.activateOwnWindow(static_cast<std::uint32_t>(window));
  };
  settingsWindow_.setActivator(activateOwn);
  onboardingWindow_.setActivator(activateOwn);
  onboardingWindow_.setReducedMotion([this] { return interaction_.prefersReducedMotion(); });
  interaction_.setIconSource(
      [this](const std::string& bundleID) { return chooserIcons_->icon(bundleID); });
  services_ = {.clock = &clock_,
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
               .secrets = secrets_.get(),
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
