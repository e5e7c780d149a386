// The program users install knows no links beyond the application's own.
#include "shell/desktop_extras.h"

namespace tolvane::shell {

std::unique_ptr<DesktopExtras> makeDesktopExtras(DesktopBackend&, AppDelegate&) {
  return nullptr;
}

}  // namespace tolvane::shell
