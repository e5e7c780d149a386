// The onboarding window on the Qt desktop: one page of the flow as a column of blocks above a
// footer of page dots and buttons, 360 wide, as tall as its content allows.
#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "platform/described_window.h"
#include "ui/qt/window_host.h"
#include "views/onboarding_window_view.h"

class QScrollArea;
class QVBoxLayout;

namespace tolvane::qt {

class PageDots;
class PillButton;
class TextLabel;

/// Main thread only; needs a QApplication. A page with the same blocks (kinds and ids) as the
/// one shown is updated in place, so the core's re-evaluation every second changes nothing the
/// user is using; another page is built anew. The height follows the content, at most the
/// primary screen's available height less kScreenMargin; taller content scrolls.
class QtOnboardingWindow final : public OnboardingWindow {
 public:
  /// The dots after the waiting text advance this often.
  static constexpr int kWaitingStepMs = 450;

  QtOnboardingWindow();
  ~QtOnboardingWindow() override;
  QtOnboardingWindow(const QtOnboardingWindow&) = delete;
  QtOnboardingWindow& operator=(const QtOnboardingWindow&) = delete;

  void show(const OnboardingWindowView& view) override;
  void bringToFront() override;
  void close() override;
  bool isVisible() const override;
  Rect frame() const override;
  void setCloseHandler(std::function<void()> handler) override;

  /// Makes the window manager activate the window with a real timestamp, given its X id.
  void setActivator(std::function<void(unsigned long windowID)> activator);
  /// Asked before animating the waiting dots; true keeps them still.
  void setReducedMotion(std::function<bool()> prefersReducedMotion);

  /// The open window and the page's content; null while closed.
  QWidget* window() const { return host_.window(); }
  QWidget* content() const { return content_; }
  QImage grabImage() const { return host_.grabImage(); }
  /// The tallest the window may be on the current screen.
  static int maximumHeight();

 private:
  void build();
  void showBlocks(const OnboardingWindowView& view);
  void showFooter(const OnboardingWindowView& view);
  void showWaiting(const std::string& text);
  void fitHeight();

  WindowHost host_;
  QPointer<QScrollArea> scroller_;
  QPointer<QWidget> content_;
  std::vector<QWidget*> blocks_;
  std::vector<std::string> shape_;
  QPointer<TextLabel> waiting_;
  QPointer<QWidget> footer_;
  QPointer<PageDots> dots_;
  QPointer<PillButton> back_;
  QPointer<PillButton> secondary_;
  QPointer<PillButton> primary_;
  QTimer waitingTimer_;
  QString waitingText_;
  int waitingStep_ = 0;
  std::function<bool()> reducedMotion_;
};

}  // namespace tolvane::qt
