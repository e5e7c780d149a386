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

namespace {

std::optional<std::string> programPath(const std::string& name) {
  const auto self = system::executablePath();
  if (!self) return std::nullopt;
  const std::string folder = self->substr(0, self->rfind('/') + 1);
  for (const std::string& candidate :
       {folder + TOLVANE_PROGRAMS_FROM_BINDIR + "/" + name, folder + name}) {
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

}  // namespace

int runProgram(const char* name, char** argv) {
  const auto path = programPath(name);
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
