// The POSIX half of environment.h.
#ifndef _WIN32

#include "platform/environment.h"

#include <climits>
#include <cstdlib>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace qv {

namespace {

std::string formatted(const char *format, const std::tm &tm)
{
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, format, &tm);
    return std::string(text, n);
}

}  // namespace

std::string ProgramFilePath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

std::string HomeFolder()
{
    if (const char *home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

std::string UserConfigFolder()
{
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return xdg;
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.config";
}

LocalDateTime LocalNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string RegionalShortDate(int year, int month, int day)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    return formatted("%x", tm);
}

std::string RegionalLongTime(int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = 100;
    tm.tm_mday = 1;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return formatted("%X", tm);
}

}  // namespace qv

#endif
