// Testing an archive: the read-back check that every "Twórz archiwum" makes
// before its archive replaces anything, run on demand on an archive that
// already exists (a scheduled run checking last night's archive, an archive
// brought back from elsewhere). Nothing is written anywhere.
#include "archive/ArchiveOperations.h"

#include "cabinet/CabSTComps.h"
#include "platform/files.h"
#include "platform/text.h"

namespace qv {

bool TestArchive(ArchiveHost &host, TSTCabReader &reader)
{
    Interaction &ui = host.ui();
    const std::string archive = host.archiveFileName();
    if (archive.empty() || !FileExists(archive)) {
        ui.message({Format("Brak pliku archiwum %1 !", {archive}), ApplicationTitle(), MsgIcon::None, MsgButtons::Ok,
                    MsgResult::Ok});
        return false;
    }
    cab::FDICABINETINFO info{};
    if (!reader.IsCabinet(archive, info)) {
        ui.message({Format("Plik \"%1\" nie jest plikiem typu .CAB", {archive}), ApplicationTitle(), MsgIcon::None,
                    MsgButtons::Ok, MsgResult::Ok});
        return false;
    }

    LogWindow *log = OpenStoppableLog(host, archive);
    bool passed = false;
    try {
        const TSTCabTestResult result =
            reader.TestCabinet(archive, [&](TSTCabReader &, const std::string &name, std::int32_t size, bool &abort) {
                log->addLine(
                    Format("%1 %2 byte(s)", {PadRight(Printable(name), 22), PadLeft(std::to_string(size), 10)}));
                ui.processEvents();
                abort = log->stopPressed();
            });
        log->addLine(Format("Archiwum sprawdzone: %1 plików", {std::to_string(result.Files)}));
        passed = true;
    } catch (const std::exception &e) {
        log->addLine(log->stopPressed() ? std::string("-!- Sprawdzanie archiwum przerwane -!- ")
                                        : Format("-!- Archiwum nie przeszło sprawdzenia: %1 -!- ",
                                                 {PrintableMessage(e.what())}));
    }
    FinishStoppableLog(host, *log);
    return passed;
}

}  // namespace qv
