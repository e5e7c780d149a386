// Entry point of the `tolvane` executable, the front door: the commands that need no desktop
// run here, without loading Qt or X11, and everything else becomes the desktop program.
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "front/command_line.h"
#include "front/desktop_program.h"
#include "front/hand_off.h"
#include "palette/palette_filter.h"

namespace {

using namespace tolvane;

/// `tolvane filter QUERY`: standard input's lines ranked for the query.
int runFilter(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "tolvane: filter takes one QUERY\n\n%s", front::kUsage);
    return 2;
  }
  // Whole blocks to the pipe: a reader such as head takes them at the pace it wants.
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  if (filterStream(argv[2], STDIN_FILENO, stdout)) return 0;
  std::fputs("tolvane: filter could not read its input or write its output\n", stderr);
  return 1;
}

/// The commands named by the first argument. A command of another desktop (the triggers a
/// compositor's key bindings run) is one more row.
struct Command {
  std::string_view name;
  int (*run)(int argc, char** argv);
};
constexpr Command kCommands[] = {
    {"filter", runFilter},
};

}  // namespace

int main(int argc, char** argv) {
  for (const auto& command : kCommands) {
    if (argc >= 2 && argv[1] == command.name) return command.run(argc, argv);
  }
  int status = 0;
  const auto line = front::parseCommandLine(argc, argv, status);
  if (!line) return status;
  if (!line->url.empty()) {
    if (const auto handed = front::handOffToRunning(line->url)) return *handed;
  }
  return front::runDesktop(argv);
}
