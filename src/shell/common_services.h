// The services of the real desktop that are the same whichever display server runs: files,
// preferences, the log, HTTP, secrets, crash records, and the Qt windows that are ordinary
// windows everywhere (settings, onboarding, the tray item and dialogs). Each desktop backend
// owns one and adds its own window, key and panel services.
#pragma once

#include <memory>
#include <string>

#include "backends/system/autostart_login_items.h"
#include "backends/system/crash_record.h"
#include "backends/system/curl_http_client.h"
#include "backends/system/expat_feed_parser.h"
#include "backends/system/journal_crash_diagnostics.h"
#include "backends/system/journal_process_log.h"
#include "backends/system/json_preference_store.h"
#include "backends/system/openssl_digest.h"
#include "backends/system/posix_file_system.h"
#include "backends/system/posix_system_info.h"
#include "backends/system/real_clock.h"
#include "backends/system/secret_store_choice.h"
#include "backends/system/syslog_system_log.h"
#include "diagnostics/debug_log.h"
#include "platform/services.h"
#include "ui/qt/app_icons.h"
#include "ui/qt/qt_onboarding_window.h"
#include "ui/qt/qt_run_loop.h"
#include "ui/qt/qt_settings_window.h"
#include "ui/qt/qt_status_item.h"
#include "ui/qt/qt_user_interaction.h"

namespace tolvane::shell {

/// What a backend adds to the common services: its desktop, which answers as the workspace,
/// accessibility, window server and catalog, and its keys and panels.
struct DesktopServices {
  Workspace* workspace;
  Accessibility* accessibility;
  WindowServer* windowServer;
  ApplicationCatalog* catalog;
  EventTap* eventTap;
  HotKeys* hotKeys;
  Screens* screens;
  SwitcherPanel* switcherPanel;
  PalettePanel* palettePanel;
  LocalKeyMonitor* keyMonitor;
};

/// Built once the QApplication exists; outlives the application object.
class CommonServices {
 public:
  explicit CommonServices(const BundleInfo& bundle);
  CommonServices(const CommonServices&) = delete;
  CommonServices& operator=(const CommonServices&) = delete;

  DebugLog& log() { return log_; }
  RunLoop& runLoop() { return runLoop_; }
  Clock& clock() { return clock_; }
  system::JsonPreferenceStore& preferences() { return preferences_; }
  const std::string& preferencesPath() const { return preferencesPath_; }
  qt::QtStatusItem& statusItem() { return statusItem_; }
  qt::QtSettingsWindow& settingsWindow() { return settingsWindow_; }
  qt::QtOnboardingWindow& onboardingWindow() { return onboardingWindow_; }
  qt::QtUserInteraction& interaction() { return interaction_; }

  /// Every painter's application icons from `source` (the desktop entries).
  void connectIcons(const qt::AppIcons::Source& source);
  /// The windows that raise themselves through the desktop (`activate` gets their native id).
  void connectActivation(const std::function<void(unsigned long)>& activate);
  /// The services above, with the desktop's own left for the backend to fill in.
  Services services(const BundleInfo& bundle, const DesktopServices& desktop);

 private:
  UserPaths paths_;
  std::string preferencesPath_;
  system::RealClock clock_;
  qt::QtRunLoop runLoop_;
  system::PosixFileSystem files_;
  system::PosixSystemInfo system_;
  system::SystemRandom random_;
  DebugLog log_;
  system::JsonPreferenceStore preferences_;
  system::AutostartLoginItems loginItems_;
  system::SyslogSystemLog systemLog_;
  system::CurlHttpClient http_;
  system::OpeningSecretStore secrets_;
  system::OpenSslDigest digest_;
  system::SystemCoredumpJournal coredumps_;
  system::JournalCrashDiagnostics crashes_;
  system::JournalProcessLog processLog_;
  system::ExpatFeedParser feedParser_;
  qt::QtStatusItem statusItem_;
  qt::QtUserInteraction interaction_;
  std::unique_ptr<qt::AppIcons> chooserIcons_;
  qt::QtSettingsWindow settingsWindow_;
  qt::QtOnboardingWindow onboardingWindow_;
};

}  // namespace tolvane::shell
