#pragma once

// Ctrl-C and termination. The first Ctrl-C asks the running step to stop
// (the scan at its next check, saving after the current file); a second one,
// SIGTERM and SIGHUP end the program at once, after removing a file that is
// being written under a temporary name.
//
// A closed output pipe (`--list | head`) ends a scan that only lists, as it
// would end any filter; when the hits are being saved it only silences the
// listing, since the files are what the user is waiting for.
void installInterruptHandlers(bool saving);
bool stopRequested();
