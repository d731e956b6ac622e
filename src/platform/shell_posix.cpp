// xdg-open is started without a shell (the name goes as one argument, never
// through word splitting) and reaped by a thread of its own, so the caller
// neither waits for the opened program nor leaves a zombie behind.
#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace qv {

bool ShellOpenFile(const std::string &path)
{
    std::string program = "xdg-open";
    std::string file = path;
    char *argv[] = {program.data(), file.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        return false;
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

}  // namespace qv
