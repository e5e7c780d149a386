// The stall hook, a plain sleep on the main thread, which is exactly the fault it stands for;
// the locate hook, which finds a widget as a user's eye would; and the crash hook, a real fault.
#include "desktops/hooks/test_hooks.h"

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/app_delegate.h"
#include "shell/desktop_backend.h"

namespace tolvane::shell {

namespace {

constexpr std::string_view kStallPrefix = "tolvane://test-stall?seconds=";
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

}  // namespace

TestHooks::TestHooks(Services services) : s_(services) {}

bool TestHooks::handleURL(const std::string& url) {
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

std::unique_ptr<DesktopExtras> makeDesktopExtras(DesktopBackend& backend, AppDelegate& app) {
  return std::make_unique<TestHooks>(TestHooks::Services{backend.log(),
                                                         [&app] {
                                                           if (app.account())
                                                             app.account()->signIn();
                                                         },
                                                         [&app] {
                                                           if (app.account())
                                                             app.account()->signOut();
                                                         }});
}

}  // namespace tolvane::shell
