// ShellExecuteW with the "open" verb, the name in UTF-16.
#include "platform/shell.h"

#include <windows.h>

#include <shellapi.h>

namespace qv {

bool ShellOpenFile(const std::string &path)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), n);
    // Values above 32 mean success.
    const auto rc = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return rc > 32;
}

}  // namespace qv
