#pragma once

// Ctrl-C and termination. The first Ctrl-C asks the running step to stop
// (the scan at its next check, saving after the current file); a second one,
// SIGTERM, SIGHUP and a closed output pipe end the program at once, after
// removing a file that is being written under a temporary name.

void installInterruptHandlers();
bool stopRequested();
