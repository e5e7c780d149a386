// Small interactions with the user that need no window of the core's own: the beep, the
// about box, the application chooser and the update notice.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/application_catalog.h"

namespace tolvane {

/// What an update check found, in the interface language: a newer release and where to get it,
/// no newer release, or a check that failed.
struct UpdateNotice {
  std::string title;
  std::string message;
  /// The release's web page (http or https only), opened by a button labelled `downloadLabel`;
  /// nothing when there is no page to offer.
  std::optional<std::string> downloadPage;
  std::string downloadLabel;
  /// The button that closes the notice.
  std::string dismissLabel;
};

/// Small interactions with the user that need no window of the core's own.
class UserInteraction {
 public:
  virtual ~UserInteraction() = default;
  virtual void beep() = 0;
  /// Whether the desktop asks for reduced motion (no pulsing, no decorative animation).
  virtual bool prefersReducedMotion() const { return false; }
  /// The desktop's about box for this application, with its name and version.
  virtual void showAbout(const std::string& applicationName, const std::string& version) = 0;
  /// Lets the user pick any number of `candidates` (shown with their names and icons) in a
  /// dialog titled `title`; `done` receives the chosen bundle ids (empty on cancel). It does not
  /// wait for the answer.
  virtual void chooseApplications(const std::vector<InstalledApplication>& candidates,
                                  const std::string& title,
                                  std::function<void(std::vector<std::string>)> done) = 0;
  /// A small message box with the notice; it does not wait for an answer. A notice still open
  /// gives way to the new one.
  virtual void showUpdateNotice(const UpdateNotice& notice) = 0;
};

}  // namespace tolvane
