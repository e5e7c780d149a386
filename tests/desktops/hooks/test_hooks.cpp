// The stall hook, a plain sleep on the main thread, which is exactly the fault it stands for;
// the recorder hook, a window of its own around the recorder the settings window will hold; and
// the crash hook, a real fault.
#include "desktops/hooks/test_hooks.h"

#include <QApplication>
#include <QVBoxLayout>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/app_delegate.h"
#include "input/hotkey_recorder.h"
#include "shell/desktop_backend.h"
#include "ui/qt/hotkey_recorder_widget.h"

namespace tolvane::shell {

namespace {

constexpr std::string_view kStallPrefix = "tolvane://test-stall?seconds=";
constexpr std::string_view kRecorderURL = "tolvane://test-recorder";
constexpr std::string_view kCrashURL = "tolvane://test-crash";
constexpr std::string_view kSignInURL = "tolvane://test-sign-in";
constexpr std::string_view kSignOutURL = "tolvane://test-sign-out";
// With this suffix the stall goes on after its seconds until the test creates the file in the
// runtime folder, once it has seen what must happen during the stall: a stall of a fixed length
// races with a loaded machine.
constexpr std::string_view kStallUntilReleased = "&until=released";
constexpr std::string_view kStallReleaseFile = "test-stall-release";
constexpr std::string_view kLocatePrefix = "tolvane://test-locate?name=";
constexpr int kMaxStallSeconds = 30;

std::string describe(const HotkeyRecorderView& view) {
  std::string text = std::string("recording=") + (view.recording ? "1" : "0") + " chips=";
  for (const auto& chip : view.chips) text += chip;
  return text + " reset=" + (view.showsReset ? "1" : "0");
}

/// Hands each key to the real monitor's handlers, then tells the window, which shows what the
/// key changed: the recorder's capture swallows the key, so nothing later would see it.
class NotifyingKeyMonitor final : public LocalKeyMonitor {
 public:
  NotifyingKeyMonitor(LocalKeyMonitor& monitor, std::function<void()> afterKey)
      : monitor_(monitor), afterKey_(std::move(afterKey)) {}
  MonitorToken addKeyDownMonitor(Handler handler) override {
    return monitor_.addKeyDownMonitor([this, handler = std::move(handler)](const KeyEvent& key) {
      const bool swallowed = handler(key);
      afterKey_();
      return swallowed;
    });
  }
  void removeMonitor(MonitorToken token) override { monitor_.removeMonitor(token); }

 private:
  LocalKeyMonitor& monitor_;
  std::function<void()> afterKey_;
};

}  // namespace

class TestHooks::RecorderWindow {
 public:
  explicit RecorderWindow(const Services& s)
      : log_(s.log),
        monitor_(s.keyMonitor, [this] { refresh(); }),
        recorder_({s.settings, monitor_, s.interaction, s.l10n}) {
    window_.setWindowTitle("Tolvane hot-key recorder");
    auto* layout = new QVBoxLayout(&window_);
    layout->setContentsMargins(0, 0, 0, 0);
    widget_ = new qt::HotkeyRecorderWidget;
    layout->addWidget(widget_);
    widget_->setClickHandler([this] {
      recorder_.click();
      refresh();
    });
    widget_->setResetHandler([this] {
      recorder_.reset();
      refresh();
    });
    widget_->setHiddenHandler([this] {
      recorder_.leftScreen();
      refresh();
    });
    refresh();
  }
  ~RecorderWindow() {
    // The window goes with this object: its leaving the screen must not call back into a
    // recorder and a widget that are being taken apart.
    widget_->setHiddenHandler(nullptr);
    recorder_.leftScreen();
  }
  RecorderWindow(const RecorderWindow&) = delete;
  RecorderWindow& operator=(const RecorderWindow&) = delete;

  void show() {
    window_.show();
    window_.raise();
    log_.log("test hook: recorder window=" + std::to_string(window_.winId()));
  }

 private:
  void refresh() {
    const HotkeyRecorderView view = recorder_.view();
    widget_->setView(view);
    if (describe(view) == shown_) return;
    shown_ = describe(view);
    log_.log("test hook: recorder " + shown_);
  }

  DebugLog& log_;
  NotifyingKeyMonitor monitor_;
  HotkeyRecorder recorder_;
  std::string shown_;
  QWidget window_;
  qt::HotkeyRecorderWidget* widget_ = nullptr;  // owned by window_
};

TestHooks::TestHooks(Services services) : s_(services) {}

TestHooks::~TestHooks() = default;

bool TestHooks::handleURL(const std::string& url) {
  if (url == kRecorderURL) {
    showRecorder();
    return true;
  }
  if (url == kCrashURL) crash();
  for (const auto& [hook, action] :
       {std::pair{kSignInURL, &s_.signIn}, {kSignOutURL, &s_.signOut}}) {
    if (url != hook) continue;
    if (*action) (*action)();
    return true;
  }
  if (url.starts_with(kLocatePrefix)) {
    locate(url.substr(kLocatePrefix.size()));
    return true;
  }
  return stall(url);
}

void TestHooks::locate(const std::string& name) {
  const QString wanted = QString::fromStdString(name);
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!top->isVisible()) continue;
    QWidget* found = top->objectName() == wanted ? top : top->findChild<QWidget*>(wanted);
    if (!found || !found->isVisible()) continue;
    const QPoint centre = found->mapToGlobal(found->rect().center());
    s_.log.log("test hook: located " + name + " at " + std::to_string(centre.x()) + "," +
               std::to_string(centre.y()));
    return;
  }
  s_.log.log("test hook: " + name + " not found");
}

bool TestHooks::stall(const std::string& url) {
  if (!url.starts_with(kStallPrefix)) return false;
  std::string digits = url.substr(kStallPrefix.size());
  const bool untilReleased = digits.ends_with(kStallUntilReleased);
  if (untilReleased) digits.resize(digits.size() - kStallUntilReleased.size());
  if (digits.empty() || digits.size() > 2 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int seconds = std::min(std::stoi(digits), kMaxStallSeconds);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path release =
      std::filesystem::path(runtime ? runtime : "/nonexistent") / kStallReleaseFile;
  std::error_code ignored;
  std::filesystem::remove(release, ignored);
  s_.log.log("test hook: the main thread stalls for " + std::to_string(seconds) + "s");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(kMaxStallSeconds);
  while (untilReleased && !std::filesystem::exists(release, ignored) &&
         std::chrono::steady_clock::now() < bound) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::filesystem::remove(release, ignored);
  s_.log.log("test hook: the main thread runs again");
  return true;
}

// Not checked by the undefined-behaviour sanitizer, which would end the process itself, before
// the fault.
__attribute__((no_sanitize("null"))) void TestHooks::crash() {
  s_.log.log("test hook: crashing");
  // Through volatile, so the compiler can neither drop the write nor turn it into a trap
  // instruction (SIGILL): the fault must be the one a real bug causes.
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
  std::abort();  // not reached
}

void TestHooks::showRecorder() {
  if (!recorder_) recorder_ = std::make_unique<RecorderWindow>(s_);
  recorder_->show();
}

std::unique_ptr<DesktopExtras> makeDesktopExtras(DesktopBackend& backend, AppDelegate& app) {
  return std::make_unique<TestHooks>(
      TestHooks::Services{backend.log(), app.settings(), *backend.services().keyMonitor,
                          *backend.services().interaction, app.l10n(),
                          [&app] {
                            if (app.account()) app.account()->signIn();
                          },
                          [&app] {
                            if (app.account()) app.account()->signOut();
                          }});
}

}  // namespace tolvane::shell
