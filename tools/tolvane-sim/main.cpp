// tolvane-sim: runs Tolvane's core on a simulated desktop described by a scenario file and
// prints what happens, one line per event, on virtual time.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "scenario.h"
#include "simulator.h"
#include "state_folder.h"
#include "trace.h"

namespace {

constexpr const char* kUsage =
    "usage: tolvane-sim SCENARIO.json [--hotkeys FILE] [--wait-for-signal] [--state DIR]\n"
    "\n"
    "Runs Tolvane on a simulated desktop and prints one line per observable event.\n"
    "  --hotkeys FILE      keep the system's switcher hotkeys in FILE, so that their state\n"
    "                      outlives this process (the next run starts from it)\n"
    "  --wait-for-signal   after the timeline, wait for a signal instead of quitting\n"
    "  --state DIR         keep the diagnostic log and usage queue in DIR (default: a\n"
    "                      folder under $TMPDIR or /tmp, removed at the end, also when\n"
    "                      SIGTERM, SIGINT or SIGHUP ends the run)\n"
    "Exit status: 0 when the scenario ran, 2 when it was refused, 1 when it could not be read.\n"
    "The scenario and trace formats are described in docs/scenarios.md.\n";

struct Arguments {
  std::string scenario;
  std::string hotKeyFile;
  std::string stateFolder;
  bool waitForSignal = false;
};

bool parseArguments(int argc, char** argv, Arguments& out) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--hotkeys" || arg == "--state") && i + 1 < argc) {
      (arg == "--hotkeys" ? out.hotKeyFile : out.stateFolder) = argv[++i];
    } else if (arg == "--wait-for-signal") {
      out.waitForSignal = true;
    } else if (!arg.empty() && arg[0] != '-' && out.scenario.empty()) {
      out.scenario = arg;
    } else {
      return false;
    }
  }
  return !out.scenario.empty();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tolvane;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Arguments args;
  if (!parseArguments(argc, argv, args)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::ifstream in(args.scenario);
  if (!in) {
    std::fprintf(stderr, "tolvane-sim: %s: cannot be read: %s\n", args.scenario.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();

  // Static, and built before the emergency restore is installed: its exit and signal handlers
  // use the hotkey file and the trace after main has returned.
  static sim::SimClock clock;
  static simtool::Trace trace(clock, STDOUT_FILENO);
  static const auto parsed = simtool::parseScenario(text.str());
  if (const auto* refusal = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "tolvane-sim: %s: %s\n", args.scenario.c_str(), refusal->c_str());
    return 2;
  }
  std::optional<simtool::TemporaryStateFolder> temporary;
  if (args.stateFolder.empty()) temporary.emplace();
  const std::string state = temporary ? temporary->path() : args.stateFolder;
  if (state.empty() || !std::filesystem::is_directory(state)) {
    std::fprintf(stderr, "tolvane-sim: no folder for the run's state (%s)\n", state.c_str());
    return 1;
  }
  static std::unique_ptr<simtool::Simulator> simulator;
  simulator = std::make_unique<simtool::Simulator>(
      std::get<simtool::Scenario>(parsed), clock, trace,
      simtool::SimulatorOptions{.hotKeyFile = args.hotKeyFile,
                                .stateFolder = state,
                                .installEmergencyRestore = true,
                                .afterEmergencyRestore = [&temporary] {
                                  if (temporary) temporary->removeOnTerminatingSignals();
                                }});
  simulator->run();
  if (args.waitForSignal && !simulator->hasQuit()) {
    trace.line("waiting", "for a signal");
    for (;;) pause();
  }
  simulator->quit();
  trace.line("end", "");
  return 0;
}
