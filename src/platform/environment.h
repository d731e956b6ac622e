// What the system tells the program about itself and its user: where the
// program file is, where the user keeps settings, the local time, and the
// user's regional formats for dates and times. UTF-8 throughout.
#pragma once

#include <string>

namespace qv {

// The full path of the running program's file.
std::string ProgramFilePath();

// The folder the user's programs keep their settings in: %LOCALAPPDATA% on
// Windows, $XDG_CONFIG_HOME or ~/.config elsewhere. Empty when the system
// does not tell.
std::string UserConfigFolder();

// The user's home folder (%USERPROFILE%, $HOME); empty when unknown.
std::string HomeFolder();

struct LocalDateTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

LocalDateTime LocalNow();

// A date and a time of day in the user's regional short date and long time
// formats (Windows: the Control Panel's; elsewhere those of the LC_TIME
// locale, which a program sets with setlocale).
std::string RegionalShortDate(int year, int month, int day);
std::string RegionalLongTime(int hour, int minute, int second);

}  // namespace qv
