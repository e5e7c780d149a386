// Runs the real application core on a simulated desktop built from a scenario, and reports what
// a user, the system and the backend would have seen, as trace lines.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_desktop.h"
#include "backends/sim/sim_event_tap.h"
#include "backends/sim/sim_hot_keys.h"
#include "backends/sim/sim_http_client.h"
#include "backends/sim/sim_key_monitor.h"
#include "backends/sim/sim_login_items.h"
#include "backends/sim/sim_palette_panel.h"
#include "backends/sim/sim_preference_store.h"
#include "backends/sim/sim_run_loop.h"
#include "backends/sim/sim_status_item.h"
#include "backends/sim/sim_switcher_panel.h"
#include "backends/sim/sim_system.h"
#include "backends/sim/sim_system_log.h"
#include "backends/system/openssl_digest.h"
#include "backends/system/posix_file_system.h"
#include "diagnostics/debug_log.h"
#include "hotkey_file.h"
#include "scenario.h"
#include "trace.h"
#include "traced_services.h"

namespace tolvane::simtool {

struct SimulatorOptions {
  /// Where the symbolic hotkeys live between runs; empty keeps them in memory.
  std::string hotKeyFile;
  /// A folder for the diagnostic log and the usage queue; it must exist.
  std::string stateFolder;
  /// Installs the process-wide last-resort restore (exit, signals, terminate) as the real
  /// entry point does. Only a process of its own may do this: the handlers outlive the run.
  bool installEmergencyRestore = false;
  /// Runs once the emergency restore is installed, for signal handlers that must run before it
  /// and then hand over to it.
  std::function<void()> afterEmergencyRestore;
};

class Simulator {
 public:
  /// `trace` must write with `clock`'s time.
  Simulator(const Scenario& scenario, sim::SimClock& clock, Trace& trace, SimulatorOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  /// Builds the desktop, launches Tolvane from its entry point, and plays the timeline.
  void run();
  /// Quits Tolvane the normal way, unless the timeline did already.
  void quit();
  bool hasQuit() const { return quit_; }

  bool hotKeyEnabled(std::int32_t hotKey) const { return hotKeys_.isEnabled(hotKey); }
  AppDelegate& app() { return *app_; }

 private:
  class TracingPanel;
  class TracingInteraction;

  void buildDesktop();
  void launch();
  void perform(const Action& action);
  void key(const Action& action, KeyEventType type);
  void advance(double seconds);
  void stall(double seconds);
  /// Runs what fell due, then reports a change of the focus order.
  void settle();
  void traceFocusOrder();
  void addApp(const ScenarioApp& app, bool launched);
  /// The steps that change the simulated desktop's applications, windows and Spaces; false for
  /// any other.
  bool performDesktopChange(const Action& action);
  /// The steps that reach the palette, the tray menu and the account; false for any other.
  bool performForSubsystem(const Action& action);
  void pressPaletteHotKey();
  void openTrayMenu(const std::string& choose);
  /// The browser sign-in, with the simulated browser coming back at once with `code`.
  void signIn(const std::string& code);
  void traceAccount();
  /// The watchdog thread's wake-up, on its fixed grid of virtual time.
  void watchdogWake();

  const Scenario& scenario_;
  Trace& trace_;
  SimulatorOptions options_;

  sim::SimClock& clock_;
  sim::SimRunLoop loop_;
  sim::SimDesktop desktop_;
  FileHotKeyServer hotKeys_;
  sim::SimEventTap tap_;
  std::unique_ptr<TracingPanel> panel_;
  TracingPalette palettePanel_;
  sim::SimHotKeys paletteHotKeys_;
  sim::SimKeyMonitor keyMonitor_;
  sim::SimScreens screens_;
  sim::SimStatusItem statusItem_;
  std::unique_ptr<TracingInteraction> interaction_;
  system::PosixFileSystem files_;
  sim::SimSystemInfo system_;
  sim::SimRandom random_;
  sim::SimPreferenceStore preferences_;
  sim::SimLoginItems loginItems_;
  sim::SimSystemLog systemLog_;
  TracingHttp http_;
  MemorySecrets secrets_;
  system::OpenSslDigest digest_;
  DebugLog log_;
  /// The address the last "openURL" of the desktop opened: the sign-in page.
  std::string lastOpenedURL_;
  Notifier::Subscription accountSubscription_;
  Services services_;
  std::unique_ptr<AppDelegate> app_;

  // The watchdog thread stays parked; the simulator runs its checks at each virtual second so
  // the trace is the same on every run.
  std::mutex parkLock_;
  std::condition_variable parkChanged_;
  bool released_ = false;

  /// Where the timeline is; the clock may be ahead of it, never behind after a step.
  std::int64_t timelineNanos_ = 0;
  std::uint64_t heldFlags_ = 0;
  std::vector<std::uint32_t> lastFocusOrder_;
  bool quit_ = false;
};

}  // namespace tolvane::simtool
