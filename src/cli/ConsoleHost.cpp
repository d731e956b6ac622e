// The only host behaviour of its own: telling the console that the run waits
// for another one on the same data folder.
#include "cli/ConsoleHost.h"

#include "cli/Console.h"
#include "platform/console.h"
#include "platform/text.h"

namespace qv::cli {

ConsoleHost::ConsoleHost(Interaction &ui, Console &console, TCompanyList &companies, const std::string &dataFolder,
                         const std::string &archive, int lockWaitMs)
    : ui_(ui), console_(console), companies_(companies), dataFolder_(dataFolder), archive_(archive),
      lockWaitMs_(lockWaitMs)
{
}

void ConsoleHost::waitingForDataFolder(const std::string &dataFolder, int waitMs)
{
    console_.out(Format("Katalog danych %1 jest zajęty przez inną operację programu - czekam do %2 s ...",
                        {dataFolder, std::to_string((waitMs + 999) / 1000)}));
}

std::string ConsoleHost::stoppedLine() const
{
    // A scheduled run's log must not read as if the data were at fault.
    return FirstStopRequest() == StopRequest::Keyboard
               ? "-!- Przerwano na żądanie użytkownika (Ctrl+C) -!- "
               : "-!- Przerwano: system zakończył program (sygnał zakończenia, zamknięcie konsoli lub systemu) -!- ";
}

}  // namespace qv::cli
