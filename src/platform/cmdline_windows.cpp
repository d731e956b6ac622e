// The arguments from UTF-16, and the console switched to UTF-8 output so the
// same bytes read right on the screen and in a redirected file.
#include "platform/cmdline.h"

#include "platform/files_internal.h"

#include <windows.h>
#include <shellapi.h>

namespace qv {

std::vector<std::string> Utf8Arguments(int argc, wchar_t **argv)
{
    std::vector<std::string> out;
    for (int i = 0; i < argc; ++i)
        out.push_back(fileimpl::Narrow(argv[i]));
    return out;
}

void UseUtf8Console() { SetConsoleOutputCP(CP_UTF8); }

std::vector<std::string> ProgramArguments(int, char **)
{
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return {};
    std::vector<std::string> out = Utf8Arguments(count, wide);
    LocalFree(wide);
    return out;
}

}  // namespace qv
