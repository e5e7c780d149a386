// The service registry: one place that names every desktop service a backend provides.
#pragma once

#include <optional>
#include <string>

#include "base/clock.h"
#include "base/files.h"
#include "base/random_source.h"
#include "base/run_loop.h"
#include "platform/accessibility.h"
#include "platform/application_catalog.h"
#include "platform/crash_diagnostics.h"
#include "platform/described_window.h"
#include "platform/digest.h"
#include "platform/event_tap.h"
#include "platform/hot_keys.h"
#include "platform/http_client.h"
#include "platform/local_key_monitor.h"
#include "platform/login_items.h"
#include "platform/palette_panel.h"
#include "platform/preferences.h"
#include "platform/process_log.h"
#include "platform/screens.h"
#include "platform/secret_store.h"
#include "platform/status_item.h"
#include "platform/switcher_panel.h"
#include "platform/system_info.h"
#include "platform/system_log.h"
#include "platform/update_feed.h"
#include "platform/user_interaction.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tolvane {

/// Non-owning references to the services of one backend (simulated or real). The backend owns
/// them and outlives every component built from this registry. Components take the services
/// they need from here when they are constructed, never from globals.
struct Services {
  Clock* clock = nullptr;
  RunLoop* runLoop = nullptr;
  FileSystem* files = nullptr;
  UserPaths paths;
  BundleInfo bundle;
  SystemInfo* system = nullptr;
  RandomSource* random = nullptr;
  PreferenceStore* preferences = nullptr;
  LoginItems* loginItems = nullptr;
  SystemLog* systemLog = nullptr;
  ProcessLogReader* processLog = nullptr;
  SecretStore* secrets = nullptr;
  Digest* digest = nullptr;
  /// Reads update feeds; nothing where the build has no feed.
  FeedParser* feedParser = nullptr;
  /// The backend service's base URL when the user pointed Tolvane at another service
  /// (environment or command line); nothing means the built-in one.
  std::optional<std::string> cloudBaseURL;
  HttpClient* http = nullptr;
  CrashDiagnostics* crashDiagnostics = nullptr;
  Workspace* workspace = nullptr;
  Accessibility* accessibility = nullptr;
  WindowServer* windowServer = nullptr;
  EventTap* eventTap = nullptr;
  HotKeys* hotKeys = nullptr;
  Screens* screens = nullptr;
  SwitcherPanel* switcherPanel = nullptr;
  PalettePanel* palettePanel = nullptr;
  StatusItem* statusItem = nullptr;
  SettingsWindow* settingsWindow = nullptr;
  OnboardingWindow* onboardingWindow = nullptr;
  UserInteraction* interaction = nullptr;
  /// Installed applications, for the excluded-applications chooser; nothing where unknown.
  ApplicationCatalog* catalog = nullptr;
  LocalKeyMonitor* keyMonitor = nullptr;
};

}  // namespace tolvane
