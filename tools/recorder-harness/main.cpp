// The hot-key recorder in a window of its own, over the real settings store kept in a folder
// given on the command line. Each change of what the recorder shows, each beep and each
// registration of the palette hot key is reported as one line, so a test can follow along:
//   tolvane-recorder-harness <preferences folder> [<report file>]
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "backends/sim/sim_login_items.h"
#include "backends/sim/sim_system_log.h"
#include "backends/system/json_preference_store.h"
#include "backends/system/posix_file_system.h"
#include "backends/system/real_clock.h"
#include "backends/x11/x11_keys.h"
#include "diagnostics/debug_log.h"
#include "input/hotkey_recorder.h"
#include "localization/framework_language.h"
#include "localization/l10n.h"
#include "settings/app_settings.h"
#include "ui/qt/hotkey_recorder_widget.h"

namespace {

using namespace tolvane;

/// Where the report lines go: the file named on the command line, else standard output.
class Report {
 public:
  explicit Report(const char* path) : file_(path ? std::fopen(path, "w") : nullptr) {}
  ~Report() {
    if (file_) std::fclose(file_);
  }
  void line(const std::string& text) {
    std::FILE* out = file_ ? file_ : stdout;
    std::fprintf(out, "%s\n", text.c_str());
    std::fflush(out);
  }

 private:
  std::FILE* file_;
};

/// Key presses in the application's windows, in product key codes, read from the X keycode and
/// modifier state Qt received so that they mean what a grab of the same combination means.
class XKeyMonitor final : public LocalKeyMonitor, private QObject {
 public:
  explicit XKeyMonitor(xcb_connection_t* connection) : keys_(connection) {
    qApp->installEventFilter(this);
  }
  ~XKeyMonitor() override { qApp->removeEventFilter(this); }
  MonitorToken addKeyDownMonitor(Handler handler) override {
    handlers_[++last_] = std::move(handler);
    return last_;
  }
  void removeMonitor(MonitorToken token) override { handlers_.erase(token); }
  void setAfterKey(std::function<void()> after) { after_ = std::move(after); }

 private:
  bool eventFilter(QObject*, QEvent* event) override {
    // Every widget on the way sees a key event once; the window's is enough.
    if (event->type() != QEvent::KeyPress || handlers_.empty()) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const auto keycode = static_cast<xcb_keycode_t>(key->nativeScanCode());
    // Pressing a modifier changes flags; it is no key-down (Control, then Shift, then K is
    // one combination, not two beeps and a key).
    if (keys_.modifierBitsOf(keycode) != 0) return false;
    const KeyEvent translated{KeyEventType::keyDown, keys_.keyCode(keycode),
                              keys_.flags(static_cast<std::uint16_t>(key->nativeModifiers()))};
    bool swallowed = false;
    // A handler may remove monitors; walk a copy.
    const auto handlers = handlers_;
    for (const auto& [token, handler] : handlers) {
      if (handlers_.count(token) && handler(translated)) {
        swallowed = true;
        break;
      }
    }
    if (after_) after_();
    return swallowed;
  }

  x11::KeyMap keys_;
  std::map<MonitorToken, Handler> handlers_;
  MonitorToken last_ = 0;
  std::function<void()> after_;
};

class ReportedInteraction final : public UserInteraction {
 public:
  explicit ReportedInteraction(Report& report) : report_(report) {}
  void beep() override {
    QApplication::beep();
    report_.line("beep");
  }
  void chooseApplications(const std::vector<InstalledApplication>&, const std::string&,
                          std::function<void(std::vector<std::string>)> done) override {
    done({});
  }
  void showAbout(const std::string& name, const std::string&) override {
    report_.line("about " + name);
  }
  void showUpdateNotice(const UpdateNotice& notice) override {
    report_.line("update notice " + notice.title);
  }

 private:
  Report& report_;
};

std::string describe(const HotkeyRecorderView& view) {
  std::string text = std::string("view recording=") + (view.recording ? "1" : "0") + " chips=";
  for (const auto& chip : view.chips) text += chip;
  return text + " reset=" + (view.showsReset ? "1" : "0");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <preferences folder> [<report file>]\n", argv[0]);
    return 2;
  }
  auto* x11App = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11App) {
    std::fprintf(stderr, "the recorder harness needs the xcb platform\n");
    return 1;
  }
  Report report(argc > 2 ? argv[2] : nullptr);
  const std::string folder = argv[1];
  system::PosixFileSystem files;
  system::RealClock clock;
  DebugLog log(files, clock, folder + "/log");
  system::JsonPreferenceStore preferences(files, clock, folder + "/preferences.json",
                                          [&](const std::string& line) { report.line(line); });
  sim::SimLoginItems loginItems;  // the harness never touches the user's autostart folder
  sim::SimSystemLog systemLog;
  AppSettings settings(preferences, loginItems, systemLog, log);
  settings.setPaletteHotKeyRegistrar([&](std::uint32_t keyCode, std::uint32_t modifiers) {
    report.line("register keyCode=" + std::to_string(keyCode) +
                " modifiers=" + std::to_string(modifiers));
  });
  FrameworkLanguage framework(files);
  L10n l10n(preferences, framework, [] { return std::vector<std::string>{"en"}; });
  l10n.bootstrap();
  XKeyMonitor monitor(x11App->connection());
  ReportedInteraction interaction(report);
  HotkeyRecorder recorder({settings, monitor, interaction, l10n});

  QWidget window;
  window.setWindowTitle("recorder-harness");
  auto* layout = new QVBoxLayout(&window);
  layout->setContentsMargins(0, 0, 0, 0);  // the recorder at the window's origin, where tests click
  auto* widget = new qt::HotkeyRecorderWidget;
  layout->addWidget(widget);
  std::string shown;
  const auto refresh = [&] {
    const HotkeyRecorderView view = recorder.view();
    widget->setView(view);
    if (describe(view) != shown) report.line(shown = describe(view));
  };
  widget->setClickHandler([&] {
    recorder.click();
    refresh();
  });
  widget->setResetHandler([&] {
    recorder.reset();
    refresh();
  });
  widget->setHiddenHandler([&] {
    recorder.leftScreen();
    refresh();
  });
  monitor.setAfterKey(refresh);
  refresh();
  window.show();
  return app.exec();
}
