// The simulated local key monitor and the small user interactions: tests type into the
// application's own windows, count beeps and read the notices shown.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/application_catalog.h"
#include "platform/event_tap.h"
#include "platform/local_key_monitor.h"
#include "platform/user_interaction.h"

namespace tolvane::sim {

class SimKeyMonitor final : public LocalKeyMonitor {
 public:
  MonitorToken addKeyDownMonitor(Handler handler) override {
    handlers_[++last_] = std::move(handler);
    return last_;
  }
  void removeMonitor(MonitorToken token) override { handlers_.erase(token); }

  /// A key press in one of the application's windows: the monitors see it first, in the order
  /// they were added; true when one swallowed it (the focused control never sees it).
  bool press(std::uint16_t keyCode, std::uint64_t flags = 0) {
    const KeyEvent event{KeyEventType::keyDown, keyCode, flags};
    // A handler may remove monitors (closing the palette); walk a copy of the tokens.
    std::vector<MonitorToken> tokens;
    for (const auto& [token, handler] : handlers_) tokens.push_back(token);
    for (MonitorToken token : tokens) {
      auto found = handlers_.find(token);
      if (found != handlers_.end() && found->second(event)) return true;
    }
    return false;
  }
  std::size_t monitorCount() const { return handlers_.size(); }

 private:
  std::map<MonitorToken, Handler> handlers_;
  MonitorToken last_ = 0;
};

class SimUserInteraction final : public UserInteraction {
 public:
  void beep() override { ++beeps; }
  bool prefersReducedMotion() const override { return reducedMotion; }
  void showAbout(const std::string& applicationName, const std::string& version) override {
    aboutShown.push_back(applicationName + " " + version);
  }
  void chooseApplications(const std::vector<InstalledApplication>& candidates,
                          const std::string& title,
                          std::function<void(std::vector<std::string>)> done) override {
    chooserCandidates = candidates;
    chooserTitle = title;
    done(chosenApplications);
  }
  void showUpdateNotice(const UpdateNotice& notice) override { updateNotices.push_back(notice); }

  int beeps = 0;
  bool reducedMotion = false;
  /// Each about box shown: name and version.
  std::vector<std::string> aboutShown;
  /// The bundle ids the chooser answers with, and what it offered last.
  std::vector<std::string> chosenApplications;
  std::vector<InstalledApplication> chooserCandidates;
  std::string chooserTitle;
  /// Each update notice shown, oldest first.
  std::vector<UpdateNotice> updateNotices;
};

}  // namespace tolvane::sim
