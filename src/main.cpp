// Entry point of the `tolvane` executable.
#include <cstdio>

int main() {
  std::puts("tolvane: the desktop backend is not built yet.");
  return 0;
}
