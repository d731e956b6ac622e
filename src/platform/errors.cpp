#include "platform/errors.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qv {

namespace {
std::string formatOSError(int code)
{
    char head[64];
    std::snprintf(head, sizeof head, "System Error.  Code: %d.\r\n", code);
    return head + SysErrorMessage(code);
}
}  // namespace

EOSError::EOSError(int code) : Exception(formatOSError(code)), code_(code) {}

int LastOSError()
{
#ifdef _WIN32
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

void SetLastOSError(int code)
{
#ifdef _WIN32
    SetLastError(static_cast<DWORD>(code));
#else
    errno = code;
#endif
}

std::string SysErrorMessage(int code)
{
#ifdef _WIN32
    wchar_t *buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t *>(&buf), 0,
                             nullptr);
    std::string out;
    if (n && buf) {
        out = Utf16ToUtf8(std::wstring_view(buf, n));
        LocalFree(buf);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
#else
    return std::strerror(code);
#endif
}

void RaiseOSError(int code)
{
    if (code == 0)
        throw Exception("A call to an OS function failed");
    throw EOSError(code);
}

void RaiseLastOSError() { RaiseOSError(LastOSError()); }

}  // namespace qv
