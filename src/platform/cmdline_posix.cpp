// POSIX terminals take UTF-8 as the locale says; nothing to convert.
#include "platform/cmdline.h"

namespace qv {

void UseUtf8Console() {}

}  // namespace qv
