// What one build of the desktop program adds to the running application: the program users
// install adds nothing; the desktop tests' own build adds the hooks they drive through
// tolvane:// links (a stall, a crash, a recorder window). Each executable links exactly one
// definition of makeDesktopExtras, so no test code ships.
#pragma once

#include <memory>
#include <string>

namespace tolvane {
class AppDelegate;
}

namespace tolvane::shell {

class DesktopBackend;

/// Links that only this build of the program knows. Main thread only.
class DesktopExtras {
 public:
  virtual ~DesktopExtras() = default;
  /// True when `url` was one of this build's links and has been handled.
  virtual bool handleURL(const std::string& url) = 0;
};

/// This build's extras for the running application; nothing in the program users install.
std::unique_ptr<DesktopExtras> makeDesktopExtras(DesktopBackend& backend, AppDelegate& app);

}  // namespace tolvane::shell
