// Entry point of `tolvane-filter`, which the front door becomes for `tolvane filter QUERY`: the
// one command that folds text, and so the only one that loads ICU.
#include <unistd.h>

#include <cstdio>

#include "front/command_line.h"
#include "palette/palette_filter.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "tolvane: filter takes one QUERY\n\n%s", tolvane::front::kUsage);
    return 2;
  }
  // Whole blocks to the pipe: a reader such as head takes them at the pace it wants.
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  if (tolvane::filterStream(argv[2], STDIN_FILENO, stdout)) return 0;
  std::fputs("tolvane: filter could not read its input or write its output\n", stderr);
  return 1;
}
