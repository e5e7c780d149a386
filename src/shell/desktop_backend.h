// Every real service of the Linux desktop in one place: the X11 services on Qt's own
// connection, the Qt widgets and run loop, and the display-free system services. Built once by
// the entry point after the QApplication exists; it outlives the application object.
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
#include "backends/x11/x11_connection.h"
#include "backends/x11/x11_desktop.h"
#include "backends/x11/x11_event_tap.h"
#include "backends/x11/x11_hot_keys.h"
#include "backends/x11/x11_input_grab.h"
#include "diagnostics/debug_log.h"
#include "platform/services.h"
#include "settings/app_settings.h"
#include "ui/qt/app_icons.h"
#include "ui/qt/qt_key_monitor.h"
#include "ui/qt/qt_onboarding_window.h"
#include "ui/qt/qt_palette_panel.h"
#include "ui/qt/qt_run_loop.h"
#include "ui/qt/qt_screens.h"
#include "ui/qt/qt_settings_window.h"
#include "ui/qt/qt_status_item.h"
#include "ui/qt/qt_switcher_panel.h"
#include "ui/qt/qt_user_interaction.h"

namespace tolvane::shell {

class DesktopBackend {
 public:
  /// Nothing, with `error` set, when Qt has no X11 connection (another platform plugin, or no
  /// display).
  static std::unique_ptr<DesktopBackend> create(const BundleInfo& bundle, std::string& error);
  ~DesktopBackend();
  DesktopBackend(const DesktopBackend&) = delete;
  DesktopBackend& operator=(const DesktopBackend&) = delete;

  Services& services() { return services_; }
  DebugLog& log() { return log_; }
  x11::Connection& connection() { return *connection_; }
  bool displayLost() const { return connection_->hasFailed(); }
  /// The settings decide which trigger combinations the tap grabs; they exist only once the
  /// application does, so the tap asks through this.
  void setSettings(const AppSettings* settings) { settings_ = settings; }
  /// The trigger combinations changed: the tap gives up its grabs and takes the new ones.
  void reloadKeyGrabs() { tap_.reloadCombinations(); }
  x11::X11Desktop& desktop() { return desktop_; }
  system::JsonPreferenceStore& preferences() { return preferences_; }
  const std::string& preferencesPath() const { return preferencesPath_; }
  x11::X11EventTap& tap() { return tap_; }

 private:
  DesktopBackend(const BundleInfo& bundle, std::unique_ptr<x11::Connection> connection);
  /// What the tap grabs under the settings in force; nothing before the settings exist.
  std::vector<x11::TriggerCombination> triggerCombinations() const;
  /// The watchdog's release reaches the grabs that Qt's windows take on the shared connection.
  void connectGrabs();
  /// Every painter's icons from the desktop entries and the windows, refreshed at each launch.
  void connectIcons();
  /// Tolvane's own windows are raised through the window manager, as other windows are.
  void connectOwnWindows();
  Services collectServices(const BundleInfo& bundle);

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
  std::unique_ptr<x11::Connection> connection_;
  const AppSettings* settings_ = nullptr;
  x11::X11EventTap tap_;
  x11::X11Desktop desktop_;
  x11::X11HotKeys hotKeys_;
  qt::QtScreens screens_;
  qt::QtSwitcherPanel panel_;
  x11::X11InputGrab paletteGrab_;
  qt::QtPalettePanel palettePanel_;
  qt::QtKeyMonitor keyMonitor_;
  qt::QtStatusItem statusItem_;
  qt::QtUserInteraction interaction_;
  std::unique_ptr<qt::AppIcons> chooserIcons_;
  qt::QtSettingsWindow settingsWindow_;
  qt::QtOnboardingWindow onboardingWindow_;
  Services services_;
};

}  // namespace tolvane::shell
