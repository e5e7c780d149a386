// Tolvane on a compositor session, as the step driver's primitives.
#include "desktops/driver/compositor_suite.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tolvane::test {

std::vector<Source> CompositorSession::sources() {
  std::vector<Source> all{said_.source()};
  if (compositor_) all.push_back(compositor_->source());
  return all;
}

bool CompositorSession::waitWith(const std::function<bool()>& done,
                                 const std::vector<Source>& also) {
  auto all = sources();
  all.insert(all.end(), also.begin(), also.end());
  return waitOn(done, all, kBound);
}

bool CompositorSession::run(const std::vector<std::string>& argv, const std::vector<Source>& also,
                            int out) {
  ChildProcess child(argv, clientEnvironment(), out);
  auto all = also;
  all.push_back(child.source());
  return waitWith([&] { return child.ended(); }, all) && WIFEXITED(child.status()) &&
         WEXITSTATUS(child.status()) == 0;
}

bool CompositorSession::waitFocused(const std::string& window, const std::vector<Source>& also) {
  return waitWith([&] { return isWindow(focused(), window); }, also);
}

bool CompositorSession::type(const std::vector<std::string>& words,
                             const std::vector<Source>& also) {
  return run(Steps{keyTool_} + words, also);
}

bool CompositorSession::typeMeanwhile(const std::vector<std::string>& words) {
  typists_.push_back(std::make_unique<ChildProcess>(Steps{keyTool_} + words, clientEnvironment()));
  return typists_.back()->started();
}

void CompositorSession::end(int signal) {
  if (!compositor_) return;
  kill(-compositor_->pid(), signal);
  compositor_->waitForEnd(kBound);
}

std::string CompositorSession::folder(const std::string& name) {
  const std::string path = home_.path() + "/" + name;
  std::filesystem::create_directories(path);
  chmod(home_.path().c_str(), 0711);
  chmod(path.c_str(), 0700);
  return path;
}

void CompositorSession::startAsNobody(const std::vector<std::string>& wrapper,
                                      const std::string& flags,
                                      const std::vector<std::string>& command) {
  const auto argv = wrapper +
                    words("setpriv --reuid=nobody --regid=nogroup --clear-groups " + flags +
                          " env -i PATH=/usr/bin:/bin") +
                    command;
  compositor_ = std::make_unique<ChildProcess>(argv, Environment{}, -1, said_.writeEnd());
  said_.closeWriteEnd();
}

std::string CompositorSession::keptPicture(const std::string& name) {
  const char* artifacts = std::getenv("TOLVANE_TEST_ARTIFACTS");
  return std::string(artifacts ? artifacts : ".") + "/" + name + ".png";
}

bool giveToNobody(const std::string& folder) {
  const passwd* nobody = getpwnam("nobody");
  if (!nobody || lchown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) return false;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) return false;
  }
  return true;
}

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

CompositorSuite::CompositorSuite(CompositorSession& compositor, std::vector<std::string> ready)
    : compositor_(compositor), ready_(std::move(ready)) {
  // Typed on while the next steps run: a key held through them.
  verbs["hold"] = [this](const Step& s) { ASSERT_TRUE(compositor_.typeMeanwhile(words(s.arg))); };
  // Blocks Tolvane's main thread until "release".
  verbs["stall"] = [this](const Step& s) {
    ASSERT_NE(tolvane->sendURL("tolvane://test-stall?seconds=1&until=released"), -1);
    verbs["log"]({.verb = "log", .arg = "test hook: the main thread stalls", .n = s.n});
  };
  verbs["endCompositor"] = [this](const Step&) { compositor_.end(); };
}

// The typing window writes into a FIFO made before it opens.
void CompositorSuite::openWindows(const std::vector<std::string>& windows) {
  for (const auto& window : windows) {
    const auto colon = window.find(':');
    const std::string app = window.substr(0, colon);
    const std::string title = colon == std::string::npos ? app : window.substr(colon + 1);
    std::string record;
    if (app == "typing") {
      record = folder.path() + "/typed";
      typed = std::make_unique<PipeText>(record);
    }
    ASSERT_TRUE(compositor_.openWindow(app, title, record))
        << window << " focused: " << compositor_.focused();
  }
}

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
