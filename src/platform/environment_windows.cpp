// The Windows half of environment.h: the wide calls, and the formats the user
// chose in the Control Panel.
#ifdef _WIN32

#include "platform/environment.h"

#include "platform/files_internal.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace qv {

using fileimpl::Narrow;

std::string ProgramFilePath()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size())
            return Narrow(path.data());
        path.resize(path.size() * 2);
    }
}

namespace {

std::string knownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::string out;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)))
        out = Narrow(path);
    CoTaskMemFree(path);
    return out;
}

std::string fromWide(const std::vector<wchar_t> &text, int n)
{
    return n > 0 ? Narrow(std::wstring(text.data(), static_cast<std::size_t>(n - 1)).c_str()) : std::string();
}

}  // namespace

std::string UserConfigFolder() { return knownFolder(FOLDERID_LocalAppData); }

std::string HomeFolder() { return knownFolder(FOLDERID_Profile); }

LocalDateTime LocalNow()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::string RegionalShortDate(int year, int month, int day)
{
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDay = static_cast<WORD>(day);
    std::vector<wchar_t> text(128);
    return fromWide(text, GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, text.data(),
                                          static_cast<int>(text.size()), nullptr));
}

std::string RegionalLongTime(int hour, int minute, int second)
{
    SYSTEMTIME t{};
    t.wYear = 2000;
    t.wMonth = 1;
    t.wDay = 1;
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    std::vector<wchar_t> text(128);
    return fromWide(text,
                    GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &t, nullptr, text.data(), static_cast<int>(text.size())));
}

}  // namespace qv

#endif
