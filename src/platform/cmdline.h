// The command line and the console of a command-line tool, as UTF-8 on every
// system: Windows gives the arguments as UTF-16 and shows a console's bytes
// in its own code page, POSIX systems take UTF-8 as it is.
#pragma once

#include <string>
#include <vector>

namespace qv {

#ifdef _WIN32
// wmain's arguments as UTF-8.
std::vector<std::string> Utf8Arguments(int argc, wchar_t **argv);
#endif

// The program's arguments, its own name first, as UTF-8: main's argv on
// POSIX; on Windows the command line's UTF-16 (main's argv would be in the
// ANSI code page, which loses Polish letters elsewhere than in Poland).
std::vector<std::string> ProgramArguments(int argc, char **argv);

// Makes the console show the UTF-8 the program prints (Windows: the console's
// output code page; output into a file or pipe stays UTF-8 bytes). Nothing to
// do elsewhere.
void UseUtf8Console();

}  // namespace qv
