// Ctrl+C and termination requests: noted, never acted on inside a command, so
// that the command on the wire completes and the device stays usable.
#pragma once

namespace scopectl {

// SIGINT, SIGTERM and SIGHUP set the flag; blocking waits return early.
void CatchInterrupts();
bool Interrupted();

} // namespace scopectl
