#pragma once

// Ctrl+C (and a polite kill) stop a running command cleanly: the handler only notes the signal,
// and the FTP client's pump ends the command at its next run, closing the session. A second
// signal ends the program at once.
namespace zor::tool {

void installInterruptHandlers();
// The signal caught, 0 while none was.
int caughtSignal();

}  // namespace zor::tool
