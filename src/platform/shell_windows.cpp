// ShellExecuteW with the "open" verb, the name in UTF-16.
#include "platform/shell.h"

#include "platform/files_internal.h"

#include <windows.h>

#include <shellapi.h>

namespace qv {

bool ShellOpenFile(const std::string &path)
{
    const std::wstring wide = fileimpl::Wide(path);
    // Values above 32 mean success.
    const auto rc = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return rc > 32;
}

}  // namespace qv
