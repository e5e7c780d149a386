// Found relative to the front door's own path, so that a build tree and an installation both
// work, wherever they lie.
#include "front/programs.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "backends/system/executable_path.h"

namespace tolvane::front {

int runProgram(const char* name, char** argv) {
  const auto path = system::companionProgram(TOLVANE_PROGRAMS_FROM_BINDIR, name);
  if (!path) {
    std::fprintf(stderr, "tolvane: cannot find %s beside this program or in %s\n", name,
                 TOLVANE_PROGRAMS_FROM_BINDIR);
    return 1;
  }
  ::execv(path->c_str(), argv);
  std::fprintf(stderr, "tolvane: cannot start %s: %s\n", path->c_str(), std::strerror(errno));
  return 1;
}

}  // namespace tolvane::front
