// Entry point of the `tolvane` executable, the front door: the commands that need no desktop
// run here or in a small program of their own, without loading Qt, X11 or ICU, and everything
// else becomes the desktop program.
#include <string_view>

#include "front/command_line.h"
#include "front/hand_off.h"
#include "front/programs.h"
#include "front/trigger_command.h"

namespace {

using namespace tolvane;

/// The commands named by the first argument.
struct Command {
  std::string_view name;
  int (*run)(int argc, char** argv);
};
constexpr Command kCommands[] = {
    {"filter", [](int, char** argv) { return front::runProgram("tolvane-filter", argv); }},
    // Run by a compositor's key binding on every press: nothing here may load more than the
    // hand-off needs.
    {"trigger", front::runTrigger},
    {"--print-bindings", front::printBindings},
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
    if (const auto handed = front::handOffToRunning(line->url, line->x11)) return *handed;
  }
  return front::runProgram("tolvane-desktop", argv);
}
