// qvArchiwizator: archives the ledger program's company data into .cab files.
// Without arguments it opens its window; with arguments it runs one command
// from the command line, without any window (for scheduled backups).
#include "app/AppInteraction.h"
#include "app/Program.h"
#include "cli/CommandLine.h"
#include "platform/cmdline.h"

int main(int argc, char **argv)
{
    if (argc > 1) {
        const std::vector<std::string> args = qv::ProgramArguments(argc, argv);
        return qv::RunCommandLine({args.begin() + 1, args.end()});
    }
    qv::CatchMissingDisplay();
    qv::TApplication app(argc, argv);
    qv::StopCatchingMissingDisplay();
    qv::AppInteraction ui;
    return qv::RunWindowProgram(app, ui);
}
