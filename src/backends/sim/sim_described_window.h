// The simulated settings and onboarding windows: keep the last description, count what the
// core asked of them, and let a test close them as the user would.
#pragma once

#include <functional>
#include <optional>
#include <utility>

#include "base/geometry.h"
#include "platform/application_catalog.h"
#include "platform/described_window.h"
#include "views/onboarding_window_view.h"
#include "views/settings_window_view.h"

namespace tolvane::sim {

template <typename View>
class SimDescribedWindow final : public DescribedWindow<View> {
 public:
  void show(const View& view) override {
    if (!visible_) ++opened;
    visible_ = true;
    last_ = view;
    ++paints;
  }
  void bringToFront() override { ++broughtToFront; }
  void close() override { visible_ = false; }
  bool isVisible() const override { return visible_; }
  Rect frame() const override { return visible_ ? frameWhenShown : Rect{}; }
  void setCloseHandler(std::function<void()> handler) override { onClose_ = std::move(handler); }

  /// The user closes the window with its close button.
  void closeByUser() {
    visible_ = false;
    if (onClose_) onClose_();
  }
  /// The description painted last; it stays after the window closes.
  const View& view() const { return *last_; }
  bool hasView() const { return last_.has_value(); }

  /// How often the window went from hidden to shown, was painted, was brought forward.
  int opened = 0;
  int paints = 0;
  int broughtToFront = 0;
  Rect frameWhenShown{100, 100, 760, 520};

 private:
  bool visible_ = false;
  std::optional<View> last_;
  std::function<void()> onClose_;
};

using SimSettingsWindow = SimDescribedWindow<SettingsWindowView>;
using SimOnboardingWindow = SimDescribedWindow<OnboardingWindowView>;

/// A fixed list of installed applications.
class SimApplicationCatalog final : public ApplicationCatalog {
 public:
  std::vector<InstalledApplication> installedApplications() override { return applications; }
  std::optional<std::string> displayName(const std::string& bundleID) override {
    for (const auto& app : applications) {
      if (app.bundleID == bundleID) return app.name;
    }
    return std::nullopt;
  }
  std::vector<InstalledApplication> applications;
};

}  // namespace tolvane::sim
