// Top-level windows painted from a description: settings and onboarding.
#pragma once

#include <functional>

#include "base/geometry.h"

namespace tolvane {

// Defined beside the views that compute them.
struct SettingsWindowView;
struct OnboardingWindowView;

/// A top-level window painted from a description (settings, onboarding): a normal window that
/// the window manager decorates and the user can close.
template <typename View>
class DescribedWindow {
 public:
  virtual ~DescribedWindow() = default;
  /// Shows the window, or repaints it in place when it is shown already; never raises it.
  virtual void show(const View& view) = 0;
  /// Raises and activates the window with a current user timestamp, so that the window
  /// manager's focus-stealing prevention lets it come forward.
  virtual void bringToFront() = 0;
  /// Closes the window without calling the close handler.
  virtual void close() = 0;
  virtual bool isVisible() const = 0;
  /// The window's frame on the screen; empty while it is not shown.
  virtual Rect frame() const = 0;
  /// Called on the main thread after the user (or the window manager) closed the window.
  virtual void setCloseHandler(std::function<void()> handler) = 0;
};
using SettingsWindow = DescribedWindow<SettingsWindowView>;
using OnboardingWindow = DescribedWindow<OnboardingWindowView>;

}  // namespace tolvane
