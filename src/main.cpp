// Entry point of the `tolvane` executable: one instance per user and display, the real desktop
// services, and the application core on Qt's event loop.
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/app_delegate.h"
#include "backends/system/continue_signal.h"
#include "backends/system/crash_record.h"
#include "backends/system/keyboard_sentinel.h"
#include "backends/system/posix_system_info.h"
#include "backends/system/single_instance.h"
#include "backends/system/user_paths.h"
#include "input/emergency_restore.h"
#include "model/cloud_config.h"
#include "palette/palette_filter.h"
#include "shell/desktop_backend.h"
#include "shell/instance_listener.h"
#include "shell/preference_file_watch.h"
#include "shell/quit_signals.h"
#include "shell/test_hooks.h"
#include "shell/x11_event_bridge.h"

namespace {

constexpr const char* kUsage =
    "usage: tolvane [--verbose] [--base-url URL] [URL]\n"
    "       tolvane filter QUERY\n"
    "       tolvane --help | --version\n"
    "\n"
    "Tolvane, the window switcher. Hold Super and tap Tab to switch windows.\n"
    "  --verbose   also print the diagnostic log on standard error\n"
    "  --base-url  the account and sync service to use instead of the built-in one\n"
    "              (https://host[:port], or http:// on this machine only); the environment\n"
    "              variable TOLVANE_BASE_URL does the same, the option wins\n"
    "  URL         a tolvane:// link; handed to the running instance when there is one\n"
    "  filter      prints the lines of standard input that match QUERY, best first, as the\n"
    "              search palette ranks windows; needs no display\n"
    "Exit status: 0 after a normal quit or a filter, 1 when Tolvane runs already on this\n"
    "display or cannot start, 2 for a wrong command line.\n";

/// Standard input's lines, each cut to what the filter keeps; a long line is never held whole.
std::vector<std::string> readBoundedLines(std::FILE* input) {
  std::vector<std::string> lines;
  std::string line;
  bool cut = false;
  char buffer[1 << 16];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, input)) > 0) {
    for (std::size_t i = 0; i < read; ++i) {
      if (buffer[i] == '\n') {
        lines.push_back(tolvane::filterLine(line));
        line.clear();
        cut = false;
      } else if (!cut) {
        line.push_back(buffer[i]);
        // One byte past the limit tells whether the cut falls inside a character.
        cut = line.size() > tolvane::kFilterLineBytes;
      }
    }
  }
  if (!line.empty()) lines.push_back(tolvane::filterLine(line));
  return lines;
}

/// `tolvane filter QUERY`: standard input's lines ranked for the query.
int runFilter(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "tolvane: filter takes one QUERY\n\n%s", kUsage);
    return 2;
  }
  for (const auto& line : tolvane::filterLines(argv[2], readBoundedLines(stdin))) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

struct CommandLine {
  bool verbose = false;
  std::string url;
  std::optional<std::string> baseURL;
};

/// Nothing when the program should stop at once, with `status` set.
std::optional<CommandLine> parse(int argc, char** argv, int& status) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      status = 0;
      return std::nullopt;
    }
    if (arg == "--version") {
      std::printf("tolvane %s\n", TOLVANE_VERSION);
      status = 0;
      return std::nullopt;
    }
    if (arg == "--verbose") {
      line.verbose = true;
    } else if (arg == "--base-url" || arg.starts_with("--base-url=")) {
      if (arg == "--base-url" && i + 1 == argc) {
        std::fprintf(stderr, "tolvane: --base-url needs a URL\n\n%s", kUsage);
        status = 2;
        return std::nullopt;
      }
      line.baseURL = arg == "--base-url" ? argv[++i] : arg.substr(std::strlen("--base-url="));
    } else if (!arg.empty() && arg[0] != '-' && line.url.empty()) {
      line.url = arg;
    } else {
      std::fprintf(stderr, "tolvane: unknown argument %s\n\n%s", arg.c_str(), kUsage);
      status = 2;
      return std::nullopt;
    }
  }
  return line;
}

std::string displayName() {
  const char* display = std::getenv("DISPLAY");
  return display ? display : "";
}

/// Whether the display answers: Qt aborts when it cannot connect, and a user deserves a
/// sentence instead.
bool displayAnswers(const std::string& display) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool answers = !xcb_connection_has_error(connection);
  xcb_disconnect(connection);
  return answers;
}

/// Each distinct notice once on standard error, for a user who started Tolvane from a terminal.
void printNoticeOnce(std::string_view message) {
  static std::mutex lock;
  static std::set<std::string, std::less<>> printed;
  std::lock_guard guard(lock);
  if (!printed.emplace(message).second) return;
  std::fprintf(stderr, "tolvane: %.*s\n", static_cast<int>(message.size()), message.data());
}

/// Runs in the sentinel's process: its own connection, opened only when it must act, closes
/// the one that owns `window` (Tolvane's), and with it every grab Tolvane holds.
bool closeClientOf(const std::string& display, std::uint32_t window) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  bool closed = false;
  if (!xcb_connection_has_error(connection)) {
    xcb_generic_error_t* error =
        xcb_request_check(connection, xcb_kill_client_checked(connection, window));
    closed = error == nullptr;
    std::free(error);
  }
  xcb_disconnect(connection);
  return closed;
}

// Set while the backend lives, so that the exit Qt takes when the X server goes away can say
// what happened.
tolvane::shell::DesktopBackend* liveBackend = nullptr;
// Lives until the process ends: the exit Qt takes when the display goes happens inside main.
tolvane::system::KeyboardSentinel* liveSentinel = nullptr;

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

}  // namespace

int main(int argc, char** argv) {
  using namespace tolvane;
  if (argc >= 2 && std::strcmp(argv[1], "filter") == 0) return runFilter(argc, argv);
  // Before any thread exists, so that every thread inherits it.
  system::holdContinueSignal();
  int status = 0;
  auto line = parse(argc, argv, status);
  if (!line) return status;
  if (!line->baseURL) {
    if (const char* fromEnvironment = std::getenv("TOLVANE_BASE_URL")) {
      line->baseURL = fromEnvironment;
    }
  }
  if (line->baseURL) {
    std::string problem;
    line->baseURL = tolvane::checkBaseURLOverride(*line->baseURL, problem);
    if (!line->baseURL) {
      std::fprintf(stderr, "tolvane: %s\n", problem.c_str());
      return 2;
    }
  }

  const std::string display = displayName();
  if (display.empty()) {
    std::fputs("tolvane: no X display (DISPLAY is not set)\n", stderr);
    return 1;
  }
  std::string runtimeNote;
  const auto runtime = system::currentRuntimeFolder(runtimeNote);
  if (!runtimeNote.empty()) std::fprintf(stderr, "tolvane: %s\n", runtimeNote.c_str());
  if (!runtime) return 1;
  std::string error;
  auto instance = system::SingleInstance::claim(*runtime, display, error);
  if (!instance) {
    if (!error.empty()) {
      std::fprintf(stderr, "tolvane: %s\n", error.c_str());
      return 1;
    }
    if (!line->url.empty() && system::SingleInstance::send(*runtime, display, line->url)) {
      return 0;
    }
    std::fprintf(stderr, "tolvane: Tolvane is already running on display %s\n", display.c_str());
    return 1;
  }

  if (!displayAnswers(display)) {
    std::fprintf(stderr, "tolvane: cannot open the X display %s\n", display.c_str());
    return 1;
  }
  // Forked while the main thread is the only one: the child copies no lock another thread held.
  std::string sentinelError;
  auto sentinel = system::KeyboardSentinel::start(
      [display](std::uint32_t window) { return closeClientOf(display, window); }, sentinelError);
  liveSentinel = sentinel.get();
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication qtApp(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // The icon the package installs into the hicolor theme, for every window Tolvane opens; a
  // build run from its tree finds none and windows keep the window manager's default.
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.brenmoor.tolvane")));
  constexpr std::string_view kFeedURL = TOLVANE_FEED_URL;
  const BundleInfo bundle{
      .shortVersion = TOLVANE_VERSION,
      .build = TOLVANE_VERSION,
      .feedURL = kFeedURL.empty() ? std::nullopt : std::optional<std::string>(kFeedURL)};
  // After the sentinel's fork, so that only this process leaves crash records behind.
  {
    system::PosixSystemInfo systemInfo;
    if (!system::installCrashRecorder(
            {.folder = system::crashRecordFolder(system::currentUserPaths(), bundle),
             .osVersion = systemInfo.osVersion(),
             .arch = systemInfo.architecture()})) {
      std::fputs("tolvane: crash records cannot be kept; crashes go unreported\n", stderr);
    }
  }
  auto backend = shell::DesktopBackend::create(bundle, error);
  if (!backend) {
    std::fprintf(stderr, "tolvane: %s\n", error.c_str());
    return 1;
  }
  liveBackend = backend.get();
  std::atexit(explainLostDisplay);
  backend->services().cloudBaseURL = line->baseURL;
  // Notices given while the services were built (a preference file set aside) come now.
  backend->log().setNoticeObserver(printNoticeOnce);
  if (line->verbose) {
    // Every line reaches standard error from here on, notices included.
    backend->log().setNoticeObserver(nullptr);
    backend->log().setObserver([](std::string_view text) {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    });
    backend->desktop().setFocusObserver(
        [](std::uint32_t window) { std::fprintf(stderr, "x11: focus %u\n", window); });
  }
  if (sentinel) {
    backend->tap().setHoldPublisher(
        [&sentinel = *sentinel](std::uint32_t window) { sentinel.publishHold(window); });
    backend->log().log("keyboard sentinel: watching from pid " + std::to_string(sentinel->pid()));
  } else {
    backend->log().log("keyboard sentinel: " + sentinelError +
                       "; a stopped Tolvane keeps a held keyboard until it is continued");
  }
  if (!backend->desktop().isProcessTrusted()) {
    backend->log().notice("no EWMH window manager runs on display " + display +
                          "; Tolvane takes Super-Tab as soon as one starts");
  }
  shell::X11EventBridge bridge(backend->connection());
  qtApp.installNativeEventFilter(&bridge);

  prepareProcess(backend->services());
  AppDelegate app(backend->services(), backend->log(), [](double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  });
  backend->setSettings(&app.settings());
  app.statusItem().actions().quit = [] { QApplication::quit(); };
  app.setInterceptionObserver([&backend] { backend->reloadKeyGrabs(); });
  shell::QuitSignals quitSignals(
      [&](int signal) {
        backend->log().log("quit: signal " + std::to_string(signal));
        QApplication::quit();
      },
      [&](int signal) {
        // The deadline's thread: the main thread is stuck, so nothing here may need it.
        backend->tap().releaseFromAnyThread();
        backend->log().log(
            "quit: the main thread did not get there within 2 s; keyboard "
            "released, ending by signal " +
            std::to_string(signal));
      });
  // Keys pressed while Tolvane was stopped are dropped even when no key comes after the resume.
  const int continued = system::continueSignalDescriptor();
  std::unique_ptr<QSocketNotifier> continueNotifier;
  if (continued >= 0) {
    continueNotifier = std::make_unique<QSocketNotifier>(continued, QSocketNotifier::Read);
    QObject::connect(continueNotifier.get(), &QSocketNotifier::activated,
                     [&] { backend->tap().deliverPendingRelease(); });
  }
  shell::TestHooks testHooks({backend->log(), app.settings(), *backend->services().keyMonitor,
                              *backend->services().interaction, app.l10n(),
                              [&app] {
                                if (app.account()) app.account()->signIn();
                              },
                              [&app] {
                                if (app.account()) app.account()->signOut();
                              }});
  const auto handleURL = [&](const std::string& url) {
    if (!testHooks.run(url)) app.handleURL(url);
  };
  shell::InstanceListener urls(*instance, *backend->services().clock, handleURL);
  shell::PreferenceFileWatch preferenceFile(backend->preferencesPath(), [&] {
    if (backend->preferences().reload()) app.settings().followStore();
  });

  backend->log().log("launch: tolvane " + *bundle.shortVersion + " on display " + display);
  app.applicationDidFinishLaunching();
  if (!line->url.empty()) handleURL(line->url);
  const int result = QApplication::exec();
  app.applicationWillTerminate();
  quitSignals.quitFinished();
  // The hotkeys are back; the last-resort handlers must not reach the backend once it is gone.
  disarmNativeHotKeyEmergencyRestore();
  qtApp.removeNativeEventFilter(&bridge);
  liveBackend = nullptr;
  liveSentinel = nullptr;
  return result;
}
