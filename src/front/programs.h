// The programs the front door starts in its own place: the resident desktop program, and the
// filter, which alone needs ICU.
#pragma once

namespace tolvane::front {

/// Replaces this process with the program `name` (found beside this executable in a build
/// tree, or in its libexec folder once installed), passing `argv` and the environment through
/// unchanged: the process id, its standard streams and its exit status stay the ones the
/// caller knows. Returns only when that fails, with the exit status after saying why.
int runProgram(const char* name, char** argv);

}  // namespace tolvane::front
