// Parsing and running steps, and the verbs every desktop means the same way.
#include "desktops/driver/step_driver.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

namespace tolvane::test {

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> all;
  for (std::string word; in >> word;) all.push_back(word);
  return all;
}

Steps operator+(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

StepDriver::StepDriver(DesktopSession& session) {
  auto& s = session;
  verbs_["launch"] = [&s](const Step& step) { s.launchTolvane(step.arg); };
  verbs_["keys"] = [&s](const Step& step) { ASSERT_TRUE(s.typeKeys(step.arg)) << step.arg; };
  // Each window of the list in turn, until Tolvane saw it.
  verbs_["focus"] = [&s](const Step& step) {
    std::istringstream names(step.arg);
    for (std::string name; names >> name && !::testing::Test::HasFatalFailure();) {
      s.focusWindow(name);
    }
  };
  verbs_["focused"] = [&s](const Step& step) {
    EXPECT_TRUE(s.waitFocused(step.arg)) << s.describe();
  };
  verbs_["stays"] = [&s](const Step& step) {
    EXPECT_TRUE(s.staysFocused(step.arg)) << s.describe();
  };
  verbs_["close"] = [&s](const Step& step) { s.closeWindow(step.arg); };
  verbs_["screenshot"] = [this, &s](const Step& step) {
    auto picture = s.takePicture(step.arg);
    ASSERT_TRUE(picture) << "no picture taken";
    pictures_[step.arg] = std::move(*picture);
  };
  // "a b": the centre of screenshot b differs from a's in a tenth of its pixels or more.
  verbs_["differs"] = [this](const Step& step) {
    const auto names = words(step.arg);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_GE(centreDifference(pictures_[names[0]], pictures_[names[1]]), 0.1);
  };
  verbs_["log"] = [&s](const Step& step) {
    ASSERT_TRUE(s.waitForLog(step.arg, step.n)) << s.describe();
  };
  // The log says it exactly n times.
  verbs_["count"] = [&s](const Step& step) {
    EXPECT_EQ(s.logCount(step.arg), step.n) << s.describe();
  };
  // Typed text reached the typing terminal, within n ms when given.
  verbs_["typed"] = [&s](const Step& step) {
    const std::chrono::milliseconds bound(step.n > 1 ? step.n : 0);
    EXPECT_TRUE(s.waitForTyped(step.arg, bound)) << s.describe();
  };
  verbs_["signal"] = [&s](const Step& step) { s.signalTolvane(step.n); };
  verbs_["stop"] = [&s](const Step&) { s.signalTolvane(SIGSTOP); };
  verbs_["cont"] = [&s](const Step&) { s.signalTolvane(SIGCONT); };
  // Tolvane ends with exit status n ("exit"), or by signal n ("killed").
  const auto ends = [&s](bool bySignal) {
    return [&s, bySignal](const Step& step) {
      const auto status = s.waitForEnd();
      ASSERT_TRUE(status) << "still running\n" << s.describe();
      EXPECT_TRUE(bySignal ? WIFSIGNALED(*status) && WTERMSIG(*status) == step.n
                           : WIFEXITED(*status) && WEXITSTATUS(*status) == step.n)
          << "status " << *status << "\n"
          << s.describe();
    };
  };
  verbs_["exit"] = ends(false);
  verbs_["killed"] = ends(true);
  // SIGTERM takes the normal quit path, which ends with status 0.
  verbs_["quit"] = [this, &s](const Step&) {
    s.signalTolvane(SIGTERM);
    verbs_["exit"]({.verb = "exit", .n = 0});
  };
  // Lets a main thread stalled "until released" run again.
  verbs_["release"] = [&s](const Step& step) {
    std::ofstream(s.runtimeFolder() + "/test-stall-release");
    ASSERT_TRUE(s.waitForLog("test hook: the main thread runs again", step.n)) << s.describe();
  };
}

void StepDriver::run(const Steps& steps) {
  for (const std::string& text : steps) {
    SCOPED_TRACE(text);
    const auto space = text.find(' ');
    Step step{text.substr(0, space), space == std::string::npos ? "" : text.substr(space + 1)};
    if (const auto colon = step.verb.find(':'); colon != std::string::npos) {
      step.n = std::stoi(step.verb.substr(colon + 1));
      step.verb.resize(colon);
    }
    const auto verb = verbs_.find(step.verb);
    ASSERT_NE(verb, verbs_.end()) << "no such step";
    ASSERT_NO_FATAL_FAILURE(verb->second(step));
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace tolvane::test
