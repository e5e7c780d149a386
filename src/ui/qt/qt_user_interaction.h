// The small interactions with the user on the Qt desktop: the beep, the desktop's wish for
// reduced motion, the about box, the choice of applications and the update notice.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/application_catalog.h"
#include "platform/user_interaction.h"

class QMessageBox;
class QProcess;

namespace tolvane::qt {

/// Main thread only; needs a QApplication.
///
/// Reduced motion is read from GNOME's "enable-animations" setting through `gsettings`, which
/// may be missing or slow: the answer is fetched in the background, never waited for, and
/// asked again at most every kRecheckSeconds. Until an answer comes, motion is allowed.
class QtUserInteraction final : public UserInteraction {
 public:
  static constexpr int kRecheckSeconds = 30;
  /// A reading that has not ended by then is abandoned.
  static constexpr int kProbeTimeoutMilliseconds = 2000;

  /// `probe` is the command whose standard output says "true" or "false" for whether the
  /// desktop animates; by default GNOME's setting.
  explicit QtUserInteraction(std::vector<std::string> probe = {"gsettings", "get",
                                                               "org.gnome.desktop.interface",
                                                               "enable-animations"});
  ~QtUserInteraction() override;
  QtUserInteraction(const QtUserInteraction&) = delete;
  QtUserInteraction& operator=(const QtUserInteraction&) = delete;

  void beep() override;
  bool prefersReducedMotion() const override;
  void showAbout(const std::string& applicationName, const std::string& version) override;
  void chooseApplications(const std::vector<InstalledApplication>& candidates,
                          const std::string& title,
                          std::function<void(std::vector<std::string>)> done) override;
  /// Where the application chooser takes its icons from.
  void setIconSource(std::function<QIcon(const std::string& bundleID)> icons) {
    icons_ = std::move(icons);
  }
  /// A non-modal message box; its Download button opens the page in the desktop's browser.
  void showUpdateNotice(const UpdateNotice& notice) override;

  /// Called each time a reading of the desktop's setting has ended, whatever it said.
  void setProbeObserver(std::function<void()> observer) { probeObserver_ = std::move(observer); }
  /// Replaces the desktop's browser for the web pages the update notice opens (tests).
  void setPageOpener(std::function<void(const QUrl&)> opener) { pageOpener_ = std::move(opener); }

 private:
  void startProbe() const;
  void probeEnded() const;

  std::vector<std::string> probe_;
  std::function<void()> probeObserver_;
  std::function<void(const QUrl&)> pageOpener_;
  std::function<QIcon(const std::string&)> icons_;
  mutable std::unique_ptr<QProcess> running_;
  mutable QElapsedTimer sinceProbe_;
  mutable bool reducedMotion_ = false;
  QPointer<QMessageBox> about_;
  QPointer<QMessageBox> updateNotice_;
};

}  // namespace tolvane::qt
