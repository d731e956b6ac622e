// The console a command-line run talks to, and the requests to stop that
// arrive through it (Ctrl+C, a closed terminal, a service manager's stop).
#pragma once

namespace qv {

// Makes a program built for the window system (on Windows a GUI-subsystem
// executable, which starts without a console) write to the console of the
// command prompt that started it: standard output and error that are not
// redirected go there, in UTF-8. Streams redirected to a file or a pipe (as
// the Task Scheduler or "> file" set them up) are left as they are. Does
// nothing where every program has its standard streams anyway.
void AttachParentConsole();

// True when standard output is a terminal (not a file or a pipe).
bool StandardOutputIsTerminal();

// From now on Ctrl+C, Ctrl+Break, a closed terminal and SIGTERM only set a
// flag that the running operation polls, so it can stop cleanly (leaving no
// temporary file and no half-restored folder). A second such request ends
// the program the system's way at once. Output to a pipe whose reader has
// gone no longer ends the program either.
void InstallInterruptHandler();
bool InterruptRequested();

// What the first stop request was: the user at the keyboard (Ctrl+C,
// Ctrl+Break), or the system ending the program (SIGTERM, a closed terminal
// or console window, a shutdown).
enum class StopRequest { None, Keyboard, System };
StopRequest FirstStopRequest();

}  // namespace qv
