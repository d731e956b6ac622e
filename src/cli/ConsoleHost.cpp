// The only host behaviour of its own: telling the console that the run waits
// for another one on the same data folder.
#include "cli/ConsoleHost.h"

#include "cli/Console.h"

namespace qv::cli {

ConsoleHost::ConsoleHost(Interaction &ui, Console &console, TCompanyList &companies, const QString &dataFolder,
                         const QString &archive, int lockWaitMs)
    : ui_(ui), console_(console), companies_(companies), dataFolder_(dataFolder), archive_(archive),
      lockWaitMs_(lockWaitMs)
{
}

void ConsoleHost::waitingForDataFolder(const QString &dataFolder, int waitMs)
{
    console_.out(QStringLiteral("Katalog danych %1 jest zajęty przez inną operację programu - czekam do %2 s ...")
                     .arg(dataFolder)
                     .arg((waitMs + 999) / 1000));
}

}  // namespace qv::cli
