// POSIX terminals take UTF-8 as the locale says; nothing to convert.
#include "platform/cmdline.h"

namespace qv {

void UseUtf8Console() {}

std::vector<std::string> ProgramArguments(int argc, char **argv) { return {argv, argv + argc}; }

}  // namespace qv
