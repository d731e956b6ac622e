// qvArchiwizator for Windows: with arguments it runs one command from the
// command line (for the Task Scheduler and scripts); its window is not part
// of this build yet, which a start without arguments says in Polish.
#include "cli/CommandLine.h"
#include "platform/cmdline.h"
#include "platform/console.h"

#include <windows.h>

#include <string>

int main(int argc, char **argv)
{
    const std::vector<std::string> args = qv::ProgramArguments(argc, argv);
    if (args.size() > 1)
        return qv::RunCommandLine({args.begin() + 1, args.end()});
    qv::AttachParentConsole();
    const wchar_t text[] = L"Okno programu qvArchiwizator nie jest jeszcze dostępne w tej wersji dla Windows.\n"
                           L"Program działa z wiersza poleceń: qvarchiwizator.exe --help";
    // Started from a console, or with its output caught, the text goes
    // there; started by a click, into a box.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (err != nullptr && err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode)) {
        WriteConsoleW(err, text, static_cast<DWORD>(wcslen(text)), &written, nullptr);
        WriteConsoleW(err, L"\r\n", 2, &written, nullptr);
    } else if (err != nullptr && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
        utf8 += "\r\n";
        WriteFile(err, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    } else {
        MessageBoxW(nullptr, text, L"Qvarchiwizator", MB_OK | MB_ICONINFORMATION);
    }
    return 2;
}
