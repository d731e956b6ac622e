// qvdemo FOLDER [--cp852]: writes a demo ledger data folder.
#include "DemoData.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.size() > 2 || (args.size() == 2 && args[1] != QLatin1String("--cp852"))) {
        std::fprintf(stderr, "usage: qvdemo FOLDER [--cp852]\n");
        return 2;
    }
    try {
        const auto cp = args.size() == 2 ? qv::demo::RegisterCodePage::CP852 : qv::demo::RegisterCodePage::Mazovia;
        const auto companies = qv::demo::WriteDemoDataFolder(args[0], cp);
        std::printf("%s: %d companies\n", qPrintable(QDir::toNativeSeparators(QDir(args[0]).absolutePath())),
                    static_cast<int>(companies.size()));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qvdemo: %s\n", e.what());
        return 1;
    }
    return 0;
}
