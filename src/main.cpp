// Entry point of `tolvane-desktop`, the resident program the `tolvane` front door starts: one
// instance per user and display, the real desktop services, and the application core on Qt's
// event loop.
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "app/app_delegate.h"
#include "backends/system/continue_signal.h"
#include "backends/system/crash_record.h"
#include "backends/system/keyboard_sentinel.h"
#include "backends/system/posix_system_info.h"
#include "backends/system/single_instance.h"
#include "backends/system/user_paths.h"
#include "backends/x11/x11_display_probe.h"
#include "front/command_line.h"
#include "front/hand_off.h"
#include "input/emergency_restore.h"
#include "model/cloud_config.h"
#include "shell/desktop_backend.h"
#include "shell/instance_listener.h"
#include "shell/preference_file_watch.h"
#include "shell/quit_signals.h"
#include "shell/test_hooks.h"
#include "shell/x11_event_bridge.h"

namespace {

using namespace tolvane;

/// The command line with the base URL settled: the option, else TOLVANE_BASE_URL, checked.
std::optional<front::CommandLine> readCommandLine(int argc, char** argv, int& status) {
  auto line = front::parseCommandLine(argc, argv, status);
  if (!line) return std::nullopt;
  if (!line->baseURL) {
    if (const char* fromEnvironment = std::getenv("TOLVANE_BASE_URL")) {
      line->baseURL = fromEnvironment;
    }
  }
  if (!line->baseURL) return line;
  std::string problem;
  line->baseURL = checkBaseURLOverride(*line->baseURL, problem);
  if (!line->baseURL) {
    std::fprintf(stderr, "tolvane: %s\n", problem.c_str());
    status = 2;
    return std::nullopt;
  }
  return line;
}

/// This display's instance, or nothing with `status` set: when another runs, `url` goes to it.
std::unique_ptr<system::SingleInstance> claimInstance(const std::string& display,
                                                      const std::string& url, int& status) {
  status = 1;
  if (display.empty()) {
    std::fputs("tolvane: no X display (DISPLAY is not set)\n", stderr);
    return nullptr;
  }
  std::string runtimeNote;
  const auto runtime = system::currentRuntimeFolder(runtimeNote);
  if (!runtimeNote.empty()) std::fprintf(stderr, "tolvane: %s\n", runtimeNote.c_str());
  if (!runtime) return nullptr;
  std::string error;
  auto instance = system::SingleInstance::claim(*runtime, display, error);
  if (instance) return instance;
  if (!error.empty()) {
    std::fprintf(stderr, "tolvane: %s\n", error.c_str());
    return nullptr;
  }
  if (!url.empty()) {
    const auto handed = front::handOffStatus(system::SingleInstance::send(*runtime, display, url));
    if (handed) {
      status = *handed;
      return nullptr;
    }
  }
  std::fprintf(stderr, "tolvane: Tolvane is already running on display %s\n", display.c_str());
  return nullptr;
}

/// Each distinct notice once on standard error, for a user who started Tolvane from a terminal.
void printNoticeOnce(std::string_view message) {
  static std::mutex lock;
  static std::set<std::string, std::less<>> printed;
  std::lock_guard guard(lock);
  if (!printed.emplace(message).second) return;
  std::fprintf(stderr, "tolvane: %.*s\n", static_cast<int>(message.size()), message.data());
}

// Set while the backend lives, so that the exit Qt takes when the X server goes away can say
// what happened.
shell::DesktopBackend* liveBackend = nullptr;
// Lives until the process ends: the exit Qt takes when the display goes happens inside main.
system::KeyboardSentinel* liveSentinel = nullptr;

void explainLostDisplay() {
  if (!liveBackend || !liveBackend->displayLost()) return;
  if (liveSentinel && liveSentinel->acted()) {
    std::fputs(
        "tolvane: Tolvane was stopped while it held the keyboard; it let go of the display so "
        "that typing could go on. Start it again.\n",
        stderr);
  } else {
    std::fputs("tolvane: the X display went away; Tolvane has stopped.\n", stderr);
  }
  // Qt ends the process with status 1 when its display goes, while threads that served it (the
  // stall watchdog, which may be acting on the very stop that closed the display) still run:
  // ending here keeps the static destructors that would follow from pulling Qt's globals out
  // from under them. With the display gone there is nothing left to tidy.
  std::fflush(nullptr);
  _exit(1);
}

/// Forked while the main thread is the only one: the child copies no lock another thread held.
std::unique_ptr<system::KeyboardSentinel> startSentinel(const std::string& display,
                                                        std::string& error) {
  auto sentinel = system::KeyboardSentinel::start(
      [display](std::uint32_t window) { return x11::closeClientOwning(display, window); }, error);
  liveSentinel = sentinel.get();
  return sentinel;
}

void configureQt() {
  QApplication::setQuitOnLastWindowClosed(false);
  // The icon the package installs into the hicolor theme, for every window Tolvane opens; a
  // build run from its tree finds none and windows keep the window manager's default.
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.brenmoor.tolvane")));
}

BundleInfo bundleInfo() {
  constexpr std::string_view kFeedURL = TOLVANE_FEED_URL;
  return {.shortVersion = TOLVANE_VERSION,
          .build = TOLVANE_VERSION,
          .feedURL = kFeedURL.empty() ? std::nullopt : std::optional<std::string>(kFeedURL)};
}

/// After the sentinel's fork, so that only this process leaves crash records behind.
void installCrashRecorder(const BundleInfo& bundle) {
  system::PosixSystemInfo systemInfo;
  if (!system::installCrashRecorder(
          {.folder = system::crashRecordFolder(system::currentUserPaths(), bundle),
           .osVersion = systemInfo.osVersion(),
           .arch = systemInfo.architecture()})) {
    std::fputs("tolvane: crash records cannot be kept; crashes go unreported\n", stderr);
  }
}

/// Notices go to standard error once each; with --verbose every log line does, notices included.
void connectLog(shell::DesktopBackend& backend, bool verbose) {
  // Notices given while the services were built (a preference file set aside) come now.
  backend.log().setNoticeObserver(printNoticeOnce);
  if (!verbose) return;
  backend.log().setNoticeObserver(nullptr);
  backend.log().setObserver([](std::string_view text) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  });
  backend.desktop().setFocusObserver(
      [](std::uint32_t window) { std::fprintf(stderr, "x11: focus %u\n", window); });
}

void connectSentinel(shell::DesktopBackend& backend, system::KeyboardSentinel* sentinel,
                     const std::string& sentinelError) {
  if (sentinel) {
    backend.tap().setHoldPublisher(
        [sentinel](std::uint32_t window) { sentinel->publishHold(window); });
    backend.log().log("keyboard sentinel: watching from pid " + std::to_string(sentinel->pid()));
  } else {
    backend.log().log("keyboard sentinel: " + sentinelError +
                      "; a stopped Tolvane keeps a held keyboard until it is continued");
  }
}

std::unique_ptr<shell::QuitSignals> watchQuitSignals(shell::DesktopBackend& backend) {
  return std::make_unique<shell::QuitSignals>(
      [&backend](int signal) {
        backend.log().log("quit: signal " + std::to_string(signal));
        QApplication::quit();
      },
      [&backend](int signal) {
        // The deadline's thread: the main thread is stuck, so nothing here may need it.
        backend.tap().releaseFromAnyThread();
        backend.log().log(
            "quit: the main thread did not get there within 2 s; keyboard "
            "released, ending by signal " +
            std::to_string(signal));
      });
}

/// Keys pressed while Tolvane was stopped are dropped even when no key comes after the resume.
std::unique_ptr<QSocketNotifier> watchContinueSignal(shell::DesktopBackend& backend) {
  const int continued = system::continueSignalDescriptor();
  if (continued < 0) return nullptr;
  auto notifier = std::make_unique<QSocketNotifier>(continued, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated,
                   [&backend] { backend.tap().deliverPendingRelease(); });
  return notifier;
}

shell::TestHooks::Services testHookServices(shell::DesktopBackend& backend, AppDelegate& app) {
  return {backend.log(),
          app.settings(),
          *backend.services().keyMonitor,
          *backend.services().interaction,
          app.l10n(),
          [&app] {
            if (app.account()) app.account()->signIn();
          },
          [&app] {
            if (app.account()) app.account()->signOut();
          }};
}

/// The application on the backend, until it quits; its exit status.
int runApplication(QApplication& qtApp, shell::DesktopBackend& backend,
                   system::SingleInstance& instance, const std::string& firstURL,
                   const std::string& display) {
  shell::X11EventBridge bridge(backend.connection());
  qtApp.installNativeEventFilter(&bridge);
  prepareProcess(backend.services());
  AppDelegate app(backend.services(), backend.log(), [](double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  });
  backend.setSettings(&app.settings());
  app.statusItem().actions().quit = [] { QApplication::quit(); };
  app.setInterceptionObserver([&backend] { backend.reloadKeyGrabs(); });
  const auto quitSignals = watchQuitSignals(backend);
  const auto continueNotifier = watchContinueSignal(backend);
  shell::TestHooks testHooks(testHookServices(backend, app));
  const auto handleURL = [&](const std::string& url) {
    if (!testHooks.run(url)) app.handleURL(url);
  };
  shell::InstanceListener urls(instance, *backend.services().clock, handleURL);
  shell::PreferenceFileWatch preferenceFile(backend.preferencesPath(), [&] {
    if (backend.preferences().reload()) app.settings().followStore();
  });

  backend.log().log("launch: tolvane " + std::string(TOLVANE_VERSION) + " on display " + display);
  app.applicationDidFinishLaunching();
  if (!firstURL.empty()) handleURL(firstURL);
  const int result = QApplication::exec();
  app.applicationWillTerminate();
  quitSignals->quitFinished();
  // The hotkeys are back; the last-resort handlers must not reach the backend once it is gone.
  disarmNativeHotKeyEmergencyRestore();
  qtApp.removeNativeEventFilter(&bridge);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that every thread inherits it.
  system::holdContinueSignal();
  int status = 0;
  const auto line = readCommandLine(argc, argv, status);
  if (!line) return status;
  const char* displayVariable = std::getenv("DISPLAY");
  const std::string display = displayVariable ? displayVariable : "";
  const auto instance = claimInstance(display, line->url, status);
  if (!instance) return status;
  if (!x11::displayAnswers(display)) {
    std::fprintf(stderr, "tolvane: cannot open the X display %s\n", display.c_str());
    return 1;
  }
  std::string sentinelError;
  const auto sentinel = startSentinel(display, sentinelError);
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication qtApp(argc, argv);
  configureQt();
  const BundleInfo bundle = bundleInfo();
  installCrashRecorder(bundle);
  std::string error;
  const auto backend = shell::DesktopBackend::create(bundle, error);
  if (!backend) {
    std::fprintf(stderr, "tolvane: %s\n", error.c_str());
    return 1;
  }
  liveBackend = backend.get();
  std::atexit(explainLostDisplay);
  backend->services().cloudBaseURL = line->baseURL;
  connectLog(*backend, line->verbose);
  connectSentinel(*backend, sentinel.get(), sentinelError);
  if (!backend->desktop().isProcessTrusted()) {
    backend->log().notice("no EWMH window manager runs on display " + display +
                          "; Tolvane takes Super-Tab as soon as one starts");
  }
  const int result = runApplication(qtApp, *backend, *instance, line->url, display);
  liveBackend = nullptr;
  liveSentinel = nullptr;
  return result;
}
