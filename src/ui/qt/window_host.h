// A top-level window of Tolvane's own (settings, onboarding): a normal window the window
// manager decorates, made on demand, centred when it first appears and dropped when it closes,
// so that the next opening starts afresh.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

#include "base/geometry.h"

namespace tolvane::qt {

/// The top-level widget: tells whether its closing came from the user (the close button, the
/// window manager) or from code.
class HostedWindow final : public QWidget {
  Q_OBJECT

 public:
  explicit HostedWindow(std::function<void(bool byUser)> closed);
  /// Closes the window without it counting as the user's close.
  void closeByCode();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::function<void(bool)> closed_;
  bool byCode_ = false;
};

/// Owns at most one HostedWindow at a time. Main thread only; needs a QApplication.
class WindowHost {
 public:
  WindowHost() = default;
  ~WindowHost();
  WindowHost(const WindowHost&) = delete;
  WindowHost& operator=(const WindowHost&) = delete;

  /// The open window; null while none is.
  QWidget* window() const { return window_; }
  /// Makes a window when none is open; true when it made one (and the caller fills it).
  bool ensureWindow();
  /// Shows the window centred on the primary screen's available area.
  void showCentred();
  /// Shows, raises and activates the window, then hands its id to the activator.
  void bringToFront();
  /// Closes the window without calling the close handler.
  void close();
  bool isVisible() const;
  /// The frame in screen coordinates; empty while not shown.
  Rect frame() const;
  QImage grabImage() const;

  /// Called after the user closed the window.
  void setCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }
  /// Makes the window manager activate the window (with a real timestamp), given its X id.
  void setActivator(std::function<void(unsigned long windowID)> activator) {
    activator_ = std::move(activator);
  }
  /// Called whenever the window goes, before the close handler, so that owners drop what they
  /// held of its content.
  void setDropHandler(std::function<void()> handler) { dropHandler_ = std::move(handler); }

 private:
  void dropped(bool byUser);

  HostedWindow* window_ = nullptr;
  std::function<void()> closeHandler_;
  std::function<void(unsigned long)> activator_;
  std::function<void()> dropHandler_;
};

}  // namespace tolvane::qt
