// qvdemo FOLDER [--cp852]: writes a demo ledger data folder.
#include "DemoData.h"

#include "platform/cmdline.h"
#include "platform/files.h"
#include "platform/pathcase.h"

#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    const std::vector<std::string> all = qv::ProgramArguments(argc, argv);
    const std::vector<std::string> args(all.begin() + (all.empty() ? 0 : 1), all.end());
    if (args.empty() || args.size() > 2 || (args.size() == 2 && args[1] != "--cp852")) {
        std::fprintf(stderr, "usage: qvdemo FOLDER [--cp852]\n");
        return 2;
    }
    qv::UseUtf8Console();
    try {
        const auto cp = args.size() == 2 ? qv::demo::RegisterCodePage::CP852 : qv::demo::RegisterCodePage::Mazovia;
        const auto companies = qv::demo::WriteDemoDataFolder(args[0], cp);
        std::printf("%s: %d companies\n", qv::ToNativeSeparators(qv::ExpandFileName(args[0])).c_str(),
                    static_cast<int>(companies.size()));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qvdemo: %s\n", e.what());
        return 1;
    }
    return 0;
}
