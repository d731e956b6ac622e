// The arguments from UTF-16, and the console switched to UTF-8 output so the
// same bytes read right on the screen and in a redirected file.
#include "platform/cmdline.h"

#include <windows.h>

namespace qv {

std::vector<std::string> Utf8Arguments(int argc, wchar_t **argv)
{
    std::vector<std::string> out;
    for (int i = 0; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, s.data(), n, nullptr, nullptr);
        s.resize(s.size() - 1);  // the terminating zero
        out.push_back(s);
    }
    return out;
}

void UseUtf8Console() { SetConsoleOutputCP(CP_UTF8); }

}  // namespace qv
