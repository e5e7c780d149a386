// The message handler and the early log.
#include "shell/qt_messages.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cstdlib>

#include "backends/system/posix_file_system.h"
#include "backends/system/real_clock.h"
#include "backends/system/user_paths.h"
#include "platform/system_info.h"

namespace tolvane::shell {

namespace {

std::atomic<DebugLog*> qtLog{nullptr};
std::atomic<void (*)()> connectionLost{nullptr};

void handleQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (DebugLog* log = qtLog.load()) log->log("qt: " + message.toStdString());
  // Qt's Wayland plugin says this and then ends the process without the exit handlers.
  if (message.startsWith(QStringLiteral("The Wayland connection broke"))) {
    if (auto* lost = connectionLost.load()) lost();
  }
  if (type == QtFatalMsg) std::abort();
}

/// The desktop's name from the session, made safe to print: a short run of printable ASCII.
std::string currentDesktopName() {
  const char* value = std::getenv("XDG_CURRENT_DESKTOP");
  std::string name;
  for (const char* c = value ? value : ""; *c && name.size() < 40; ++c) {
    if (*c >= 0x20 && *c < 0x7f) name += *c;
  }
  return name;
}

}  // namespace

void routeQtMessages() {
  qInstallMessageHandler(handleQtMessage);
}

void setQtMessageLog(DebugLog* log) {
  qtLog = log;
}

void setConnectionLossHandler(void (*handler)()) {
  connectionLost = handler;
}

void logEarly(const std::string& line) {
  system::PosixFileSystem files;
  system::RealClock clock;
  DebugLog log(files, clock, system::currentUserPaths().dataHome + "/" + BundleInfo{}.identifier);
  log.log(line);
}

std::string unsupportedCompositorText() {
  const std::string desktop = currentDesktopName();
  return "this Wayland compositor" + (desktop.empty() ? "" : " (" + desktop + ")") +
         " does not let programs see or switch other programs' windows, so Tolvane cannot work "
         "here. It works on GNOME (with Tolvane's Shell extension), on KDE Plasma, on sway and "
         "other compositors that offer the wlroots foreign-toplevel protocol, and in X11 "
         "sessions. tolvane --x11 runs it on XWayland, where "
         "it sees only "
         "X11 programs.";
}

std::string untrustedByKWinText(const std::string& program) {
  return "KWin lends its list of windows only to programs whose desktop entry asks for it, and "
         "no entry names " +
         program +
         ". The package installs that entry; for a build of your own, scripts/run.sh writes "
         "it to ~/.local/share/applications (an entry whose Exec is that program and which "
         "says X-KDE-Wayland-Interfaces=org_kde_plasma_window_management). Then start Tolvane "
         "again.";
}

}  // namespace tolvane::shell
