// Telling afterwards that the process was stopped and continued (SIGSTOP or Ctrl-Z, then
// SIGCONT): keys the server queued for us meanwhile belong to a moment the user has left behind.
#pragma once

namespace tolvane::system {

/// Blocks SIGCONT in the calling thread, and so in every thread created after it: call it first
/// thing in main, before any library starts a thread. The signal still continues the process (no
/// mask can prevent that) but stays pending, so the process can ask whether it happened.
/// Children inherit the mask: a program Tolvane starts must be spawned with an empty one.
void holdContinueSignal();

/// Whether the process was continued since the last call; takes the pending signal, so each
/// stop is reported once.
bool takeContinueSignal();

/// A descriptor that becomes readable while a continue is pending (a signalfd), for a run loop
/// to watch; reading it is not needed, takeContinueSignal clears it. -1 when unavailable.
int continueSignalDescriptor();

}  // namespace tolvane::system
