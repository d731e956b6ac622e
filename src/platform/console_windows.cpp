// The Windows half of console.h. A GUI-subsystem program gets no console and
// no standard handles of its own; AttachConsole borrows the parent's, and the
// C runtime's streams are then reopened on it. Handles the parent redirected
// (a file, a pipe) are valid from the start and are kept.
#ifdef _WIN32

#include "platform/console.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

namespace qv {

namespace {

volatile LONG interrupted = 0;
volatile LONG fromKeyboard = 0;

bool redirected(DWORD which)
{
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return false;
    const DWORD type = GetFileType(h);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

BOOL WINAPI onConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Asked twice: let the system end the program.
        if (InterlockedCompareExchange(&interrupted, 1, 0) != 0)
            return FALSE;
        fromKeyboard = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void AttachParentConsole()
{
    const bool outRedirected = redirected(STD_OUTPUT_HANDLE);
    const bool errRedirected = redirected(STD_ERROR_HANDLE);
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;  // started without a console (Task Scheduler): the log file serves
    SetConsoleOutputCP(CP_UTF8);
    FILE *ignored = nullptr;
    if (!outRedirected && freopen_s(&ignored, "CONOUT$", "w", stdout) == 0)
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (!errRedirected && freopen_s(&ignored, "CONOUT$", "w", stderr) == 0)
        std::setvbuf(stderr, nullptr, _IONBF, 0);
}

bool StandardOutputIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 || _isatty(_fileno(stdout)) != 0;
}

void InstallInterruptHandler() { SetConsoleCtrlHandler(onConsoleControl, TRUE); }

bool InterruptRequested() { return interrupted != 0; }

StopRequest FirstStopRequest()
{
    if (!interrupted)
        return StopRequest::None;
    return fromKeyboard ? StopRequest::Keyboard : StopRequest::System;
}

}  // namespace qv

#endif
