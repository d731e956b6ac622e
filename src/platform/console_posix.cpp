// The POSIX half of console.h: the standard streams exist already; stop
// requests are SIGINT, SIGTERM and SIGHUP.
#ifndef _WIN32

#include "platform/console.h"

#include <csignal>
#include <initializer_list>
#include <unistd.h>

namespace qv {

namespace {

volatile std::sig_atomic_t interrupted = 0;  // the first stop signal's number

void onStopSignal(int sig)
{
    if (interrupted) {
        // Asked twice: the user means it.
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    interrupted = sig;
}

}  // namespace

void AttachParentConsole() {}

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void InstallInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait in poll() or a read returns at once and the
    // caller looks at the flag.
    action.sa_flags = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    // A reader of the output that goes away ("| head") must not kill a run
    // half way: the writes fail and the run goes on to its end.
    std::signal(SIGPIPE, SIG_IGN);
}

bool InterruptRequested() { return interrupted != 0; }

StopRequest FirstStopRequest()
{
    if (!interrupted)
        return StopRequest::None;
    return interrupted == SIGINT ? StopRequest::Keyboard : StopRequest::System;
}

}  // namespace qv

#endif
