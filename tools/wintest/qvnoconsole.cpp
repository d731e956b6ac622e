// qvnoconsole COMMAND-LINE: starts a program the way the Task Scheduler does,
// with no console and no standard streams at all, waits for it and returns
// its exit status. Windows only; the tests run the program's scheduled
// command through it under Wine, whose own scheduler does not run tasks.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: qvnoconsole \"PROGRAM ARGUMENTS...\"\n");
        return 2;
    }
    std::wstring commandLine = argv[1];
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;  // all three null: nothing to write to
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_NO_WINDOW,
                        nullptr, nullptr, &si, &pi)) {
        std::fwprintf(stderr, L"qvnoconsole: cannot start it (error %lu)\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(status);
}
