// Entry point of `tolvane-desktop`, the resident program the `tolvane` front door starts: one
// instance per user and display, the real desktop services, and the application core on Qt's
// event loop.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <atomic>
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
#include "backends/gnome/gnome_link.h"
#include "backends/system/continue_signal.h"
#include "backends/system/crash_record.h"
#include "backends/system/executable_path.h"
#include "backends/system/keyboard_sentinel.h"
#include "backends/system/posix_system_info.h"
#include "backends/system/single_instance.h"
#include "backends/system/user_paths.h"
#include "backends/wayland/wayland_client.h"
#include "backends/x11/x11_display_probe.h"
#include "front/command_line.h"
#include "front/hand_off.h"
#include "front/session_display.h"
#include "input/emergency_restore.h"
#include "model/cloud_config.h"
#include "shell/desktop_backend.h"
#include "shell/desktop_extras.h"
#include "shell/instance_listener.h"
#include "shell/preference_file_watch.h"
#include "shell/qt_messages.h"
#include "shell/quit_signals.h"
#include "shell/wayland_backend.h"
#include "shell/x11_backend.h"

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
    std::fputs("tolvane: no display (neither WAYLAND_DISPLAY nor DISPLAY is set)\n", stderr);
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

void explainLostDisplayWithin(double graceSeconds) {
  // Qt's Wayland plugin may report the broken connection from two threads at once; the first
  // says it and ends the process, the second waits for that end.
  static std::atomic<bool> explaining{false};
  if (explaining.load()) {
    for (;;) ::pause();
  }
  if (!liveBackend || !liveBackend->displayLost(graceSeconds)) return;
  if (explaining.exchange(true)) {
    for (;;) ::pause();
  }
  if (liveSentinel && liveSentinel->acted()) {
    std::fputs(
        "tolvane: Tolvane was stopped while it held the keyboard; it let go of the display so "
        "that typing could go on. Start it again.\n",
        stderr);
  } else {
    std::fprintf(stderr, "tolvane: the %s went away; Tolvane has stopped.\n",
                 liveBackend->displayKind());
  }
  // Qt ends the process with status 1 when its display goes, while threads that served it (the
  // stall watchdog, which may be acting on the very stop that closed the display) still run:
  // ending here keeps the static destructors that would follow from pulling Qt's globals out
  // from under them. With the display gone there is nothing left to tidy.
  std::fflush(nullptr);
  _exit(1);
}

void explainLostDisplay() {
  explainLostDisplayWithin(0);
}

/// Qt saw its connection break and ends the process next: the compositor is gone, but this
/// process's own socket may show it a moment later.
void explainBrokenConnection() {
  explainLostDisplayWithin(0.5);
}

/// Forked while the main thread is the only one: the child copies no lock another thread held.
/// On X11 it disconnects the client that holds the keyboard; on Wayland it shuts down the
/// compositor connection it shares with this process, whose surface holds the keyboard.
std::unique_ptr<system::KeyboardSentinel> startSentinel(const front::SessionDisplay& session,
                                                        const wayland::CompositorLink* link,
                                                        std::string& error) {
  // GNOME Shell's extension holds the grab and gives it back by itself once Tolvane stops
  // answering; cutting Tolvane's bus connection as well would only end Tolvane at SIGCONT.
  if (dynamic_cast<const gnome::GnomeLink*>(link)) return nullptr;
  const auto* client = dynamic_cast<const wayland::WaylandClient*>(link);
  system::KeyboardSentinel::LetGo letGo;
  if (client) {
    letGo = [fd = client->fd()](std::uint32_t) { return ::shutdown(fd, SHUT_RDWR) == 0; };
  } else {
    letGo = [display = session.name](std::uint32_t window) {
      return x11::closeClientOwning(display, window);
    };
  }
  auto sentinel =
      system::KeyboardSentinel::start(std::move(letGo), error, client ? client->fd() : -1);
  liveSentinel = sentinel.get();
  return sentinel;
}

void configureQt() {
  QApplication::setQuitOnLastWindowClosed(false);
  // The icon the package installs into the hicolor theme, for every window Tolvane opens; a
  // build run from its tree finds none and windows keep the window manager's default.
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.brenmoor.tolvane")));
  // On Wayland this is every window's app_id: how the compositor (and Tolvane's own window
  // list) knows them as Tolvane's, and which desktop entry names them.
  QGuiApplication::setDesktopFileName(QStringLiteral("com.brenmoor.tolvane"));
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
  backend.setFocusObserver([kind = backend.logPrefix()](std::uint32_t window) {
    std::fprintf(stderr, "%s: focus %u\n", kind, window);
  });
}

void connectSentinel(shell::DesktopBackend& backend, system::KeyboardSentinel* sentinel,
                     const std::string& sentinelError) {
  if (sentinel) {
    backend.setHoldPublisher([sentinel](std::uint32_t window) { sentinel->publishHold(window); });
    backend.log().log("keyboard sentinel: watching from pid " + std::to_string(sentinel->pid()));
  } else if (!sentinelError.empty()) {
    backend.log().log("keyboard sentinel: " + sentinelError +
                      "; a stopped Tolvane keeps a held keyboard until it is continued");
  } else {
    backend.log().log(
        "keyboard sentinel: none needed: GNOME Shell's extension gives the keyboard back by "
        "itself once Tolvane stops answering");
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

/// The application on the backend, until it quits; its exit status.
int runApplication(shell::DesktopBackend& backend, system::SingleInstance& instance,
                   const std::string& firstURL, const std::string& display) {
  prepareProcess(backend.services());
  AppDelegate app(backend.services(), backend.log(), [](double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  });
  backend.setSettings(&app.settings());
  app.statusItem().actions().quit = [] { QApplication::quit(); };
  app.setInterceptionObserver([&backend] { backend.reloadKeyGrabs(); });
  const auto quitSignals = watchQuitSignals(backend);
  const auto continueNotifier = watchContinueSignal(backend);
  const auto extras = shell::makeDesktopExtras(backend, app);
  const auto handleURL = [&](const std::string& url) {
    if (backend.handleMessage(url)) return;
    if (!extras || !extras->handleURL(url)) app.handleURL(url);
  };
  shell::InstanceListener urls(instance, *backend.services().clock, handleURL);
  shell::PreferenceFileWatch preferenceFile(backend.common().preferencesPath(), [&] {
    if (backend.common().preferences().reload()) app.settings().followStore();
  });

  backend.log().log("launch: tolvane " + std::string(TOLVANE_VERSION) + " on display " + display);
  app.applicationDidFinishLaunching();
  backend.launched();
  if (!firstURL.empty()) handleURL(firstURL);
  const int result = QApplication::exec();
  app.applicationWillTerminate();
  backend.quitting();
  quitSignals->quitFinished();
  // The hotkeys are back; the last-resort handlers must not reach the backend once it is gone.
  disarmNativeHotKeyEmergencyRestore();
  return result;
}

/// The desktop backend for the session: Wayland with its compositor connection, else X11.
std::unique_ptr<shell::DesktopBackend> createBackend(
    const front::SessionDisplay& session, std::unique_ptr<wayland::CompositorLink> client,
    const BundleInfo& bundle, std::string& error) {
  if (client) return shell::WaylandBackend::create(bundle, session.name, std::move(client), error);
  return shell::X11Backend::create(bundle, session.name, error);
}

/// The compositor connection of a Wayland session, made before any thread exists so that the
/// keyboard sentinel shares it; nothing (with `status` set) when Tolvane cannot run there.
/// On GNOME, whose Shell lends nothing to programs, that is the session bus to Tolvane's
/// extension.
std::unique_ptr<wayland::CompositorLink> connectCompositor(const front::SessionDisplay& session,
                                                           int& status) {
  std::string error;
  auto client = wayland::WaylandClient::connect(session.name.c_str(), error);
  if (!client) {
    std::fprintf(stderr, "tolvane: cannot connect to the Wayland display %s: %s\n",
                 session.name.c_str(), error.c_str());
    status = 1;
    return nullptr;
  }
  if (!client->toplevels()) {
    std::string busError;
    auto gnome = gnome::GnomeLink::connect(busError);
    if (gnome) return gnome;
    // Logged too: a user who started Tolvane from a menu finds it in the log. KWin offers its
    // list to trusted programs only: never a half-working switcher without it.
    const std::string text =
        client->compositorIsKWin()
            ? shell::untrustedByKWinText(system::executablePath().value_or("tolvane-desktop"))
            : shell::unsupportedCompositorText();
    std::fprintf(stderr, "tolvane: %s\n", text.c_str());
    shell::logEarly(text);
    status = 1;
    return nullptr;
  }
  return client;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that every thread inherits it.
  system::holdContinueSignal();
  int status = 0;
  const auto line = readCommandLine(argc, argv, status);
  if (!line) return status;
  const front::SessionDisplay session = front::sessionDisplay(line->x11);
  const auto instance = claimInstance(session.identity, line->url, status);
  if (!instance) return status;
  std::unique_ptr<wayland::CompositorLink> client;
  if (session.wayland) {
    client = connectCompositor(session, status);
    if (!client) return status;
  } else if (!x11::displayAnswers(session.name)) {
    std::fprintf(stderr, "tolvane: cannot open the X display %s\n", session.name.c_str());
    return 1;
  }
  std::string sentinelError;
  const auto sentinel = startSentinel(session, client.get(), sentinelError);
  qputenv("QT_QPA_PLATFORM", session.wayland ? "wayland" : "xcb");
  // Qt's own warnings go to the log: a user at a terminal sees Tolvane's one line about a
  // problem, not the toolkit's account of it.
  shell::routeQtMessages();
  QApplication qtApp(argc, argv);
  configureQt();
  const BundleInfo bundle = bundleInfo();
  installCrashRecorder(bundle);
  std::string error;
  const auto backend = createBackend(session, std::move(client), bundle, error);
  if (!backend) {
    std::fprintf(stderr, "tolvane: %s\n", error.c_str());
    return 1;
  }
  liveBackend = backend.get();
  std::atexit(explainLostDisplay);
  shell::setConnectionLossHandler(explainBrokenConnection);
  shell::setQtMessageLog(&backend->log());
  backend->services().cloudBaseURL = line->baseURL;
  connectLog(*backend, line->verbose);
  connectSentinel(*backend, sentinel.get(), sentinelError);
  if (std::string problem; !backend->isUsable(problem)) backend->log().notice(problem);
  const int result = runApplication(*backend, *instance, line->url, session.name);
  // The compositor's loss ends the loop from within; the exit handler says why.
  if (backend->displayLost(0)) explainLostDisplay();
  shell::setQtMessageLog(nullptr);
  liveBackend = nullptr;
  liveSentinel = nullptr;
  return result;
}
