// Tolvane on a compositor session, as the step driver's primitives.
#include "desktops/driver/compositor_suite.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tolvane::test {

bool isWindow(const std::string& window, const std::string& wanted) {
  return window == wanted ||
         (wanted.find(':') == std::string::npos && window.starts_with(wanted + ":"));
}

namespace rows {

Steps history(const std::vector<std::string>& order) {
  Steps steps{"launch"};
  for (const auto& window : order) steps.push_back("focus " + window);
  return steps;
}

std::string hold(const std::string& down, const std::string& up, int ms, const std::string& keys) {
  return "hold " + down + " " + keys + " -s " + std::to_string(ms) + " " + up;
}

}  // namespace rows

std::vector<Source> CompositorSuite::sources() {
  std::vector<Source> all = compositor_.sources();
  if (tolvane) all.insert(all.end(), {tolvane->pump(), tolvane->end()});
  if (typed) all.push_back(typed->source());
  if (extra) {
    for (auto& source : extra()) all.push_back(std::move(source));
  }
  return all;
}

bool CompositorSuite::waitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  return waitOn(done, sources(), bound);
}

std::string CompositorSuite::openTypingRecord() {
  typed = std::make_unique<PipeText>(folder.path() + "/typed");
  return folder.path() + "/typed";
}

// `tolvane --verbose` with its folders under `folder`, the guide finished and `settings` (JSON
// members) stored, until it has its windows and its bindings (or has refused them).
void CompositorSuite::launchTolvane(const std::string& settings) {
  const std::string home = folder.path() + "/home";
  const std::string store = home + "/XDG_CONFIG_HOME/com.brenmoor.tolvane";
  std::filesystem::create_directories(store);
  std::ofstream(store + "/preferences.json")
      << R"({"onboardingCompleted": true)" << (settings.empty() ? "" : ", " + settings) << "}";
  Environment environment = compositor_.clientEnvironment();
  environment.insert(environment.end(), {{"HOME", home}, {"XDG_SESSION_TYPE", "wayland"}});
  tolvane = std::make_unique<TolvaneProcess>(TOLVANE_EXECUTABLE, home, environment);
  const auto ready = [&] {
    if (logCount("window snapshot warmed") == 0) return false;
    for (const auto& line : ready_) {
      if (logCount(line) > 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(waitFor([&] { return ready() || tolvane->ended(); }) && ready())
      << "status " << tolvane->status() << "\n"
      << tolvane->log();
}

bool CompositorSuite::typeKeys(const std::string& keys) {
  return compositor_.type(words(keys), sources());
}

// With Tolvane running, until it has seen the change.
void CompositorSuite::focusWindow(const std::string& window) {
  const auto app = window.substr(0, window.find(':'));
  const int seen = logCount(kSeen + app);
  // Focusing the focused window changes nothing, and Tolvane has nothing to log.
  const bool already = isFocused(window);
  ASSERT_TRUE(compositor_.focus(window)) << window;
  ASSERT_TRUE(compositor_.waitFocused(window, sources())) << compositor_.focused();
  if (tolvane && !tolvane->ended() && !already) {
    ASSERT_TRUE(waitFor([&] { return logCount(kSeen + app) > seen; })) << tolvane->log();
  }
}

bool CompositorSuite::waitFocused(const std::string& window) {
  return compositor_.waitFocused(window, sources());
}

bool CompositorSuite::staysFocused(const std::string& window) {
  return compositor_.sync(sources()) && isFocused(window);
}

void CompositorSuite::closeWindow(const std::string& window) {
  ASSERT_TRUE(compositor_.close(window)) << window;
}

std::optional<Picture> CompositorSuite::takePicture(const std::string& name) {
  return compositor_.screenshot(name);
}

bool CompositorSuite::waitForLog(const std::string& text, int times) {
  return waitFor([&] { return logCount(text) >= times; });
}

int CompositorSuite::logCount(const std::string& text) {
  return tolvane ? tolvane->count(text) : 0;
}

std::string CompositorSuite::describe() {
  return "focused: " + compositor_.focused() + "\n" +
         (typed ? "typed: " + typed->text() + "\n" : "") + (tolvane ? tolvane->log() : "");
}

bool CompositorSuite::waitForTyped(const std::string& text, std::chrono::milliseconds bound) {
  return typed && waitFor([&] { return typed->count(text) > 0; },
                          bound.count() ? bound : CompositorSession::kBound);
}

std::optional<int> CompositorSuite::waitForEnd() {
  if (!waitFor([&] { return tolvane->ended(); })) return std::nullopt;
  return tolvane->status();
}

}  // namespace tolvane::test
