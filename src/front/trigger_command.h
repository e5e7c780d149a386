// The front door's commands for compositors whose key bindings run programs: a trigger press
// handed to the running instance, and the binding lines a configuration file needs.
#pragma once

namespace tolvane::front {

/// `tolvane trigger WORD`: hands the press to the instance of this session. An instance that
/// is stopped (and may hold the keyboard) is ended, with the reason on standard error. The
/// exit status: 0 delivered, 1 not delivered, 2 a wrong command line.
int runTrigger(int argc, char** argv);

/// `tolvane --print-bindings COMPOSITOR`: the lines for that compositor's configuration, for
/// the combinations the user's settings choose. A compositor it does not know gets the list of
/// those it knows, with status 2.
int printBindings(int argc, char** argv);

}  // namespace tolvane::front
