// The only host behaviour of its own: telling the console that the run waits
// for another one on the same data folder.
#include "cli/ConsoleHost.h"

#include "cli/Console.h"
#include "platform/console.h"

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

QString ConsoleHost::stoppedLine() const
{
    // A scheduled run's log must not read as if the data were at fault.
    return FirstStopRequest() == StopRequest::Keyboard
               ? QStringLiteral("-!- Przerwano na żądanie użytkownika (Ctrl+C) -!- ")
               : QStringLiteral("-!- Przerwano: system zakończył program (sygnał zakończenia, zamknięcie konsoli "
                                "lub systemu) -!- ");
}

}  // namespace qv::cli
