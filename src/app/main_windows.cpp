// qvArchiwizator for Windows: with arguments it runs one command from the
// command line (for the Task Scheduler and scripts); without them it opens
// its window.
#include "app/win32/WindowProgram.h"
#include "cli/CommandLine.h"
#include "platform/cmdline.h"

#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> args = qv::ProgramArguments(argc, argv);
    if (args.size() > 1)
        return qv::RunCommandLine({args.begin() + 1, args.end()});
    return qv::win::RunWindowProgram();
}
