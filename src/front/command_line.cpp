// Options in any order; the first argument that is not one is the URL.
#include "front/command_line.h"

#include <cstdio>
#include <cstring>

namespace tolvane::front {

const char* const kUsage =
    "usage: tolvane [--verbose] [--x11] [--base-url URL] [URL]\n"
    "       tolvane trigger next|previous|app-next|app-previous|palette\n"
    "       tolvane --print-bindings sway|hyprland|wayfire|labwc|river\n"
    "       tolvane filter QUERY\n"
    "       tolvane --help | --version\n"
    "\n"
    "Tolvane, the window switcher. Hold Super and tap Tab to switch windows.\n"
    "  --verbose   also print the diagnostic log on standard error\n"
    "  --x11       in a Wayland session, run on XWayland's X display (it sees X11 programs only)\n"
    "  --base-url  the account and sync service to use instead of the built-in one\n"
    "              (https://host[:port], or http:// on this machine only); the environment\n"
    "              variable TOLVANE_BASE_URL does the same, the option wins\n"
    "  URL         a tolvane:// link; handed to the running instance when there is one\n"
    "  trigger     hands a key press to the running Tolvane, for a compositor's key bindings\n"
    "  --print-bindings COMPOSITOR\n"
    "              prints the lines that compositor's configuration needs for the keys chosen\n"
    "              in the settings, where Tolvane cannot add its key bindings itself\n"
    "  filter      prints the lines of standard input that match QUERY, best first, as the\n"
    "              search palette ranks windows; needs no display\n"
    "Exit status: 0 after a normal quit, a filter or a hand-off, 1 when Tolvane runs already on\n"
    "this display, cannot start, or a link did not reach it, 2 for a wrong command line.\n";

namespace {

std::nullopt_t stop(int& status, int code) {
  status = code;
  return std::nullopt;
}

}  // namespace

std::optional<CommandLine> parseCommandLine(int argc, char** argv, int& status) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return stop(status, 0);
    }
    if (arg == "--version") {
      std::printf("tolvane %s\n", TOLVANE_VERSION);
      return stop(status, 0);
    }
    if (arg == "--verbose") {
      line.verbose = true;
    } else if (arg == "--x11") {
      line.x11 = true;
    } else if (arg == "--base-url" || arg.starts_with("--base-url=")) {
      if (arg == "--base-url" && i + 1 == argc) {
        std::fprintf(stderr, "tolvane: --base-url needs a URL\n\n%s", kUsage);
        return stop(status, 2);
      }
      line.baseURL = arg == "--base-url" ? argv[++i] : arg.substr(std::strlen("--base-url="));
    } else if (!arg.empty() && arg[0] != '-' && line.url.empty()) {
      line.url = arg;
    } else {
      std::fprintf(stderr, "tolvane: unknown argument %s\n\n%s", arg.c_str(), kUsage);
      return stop(status, 2);
    }
  }
  return line;
}

}  // namespace tolvane::front
