// Testing an archive: the read-back check that every "Twórz archiwum" makes
// before its archive replaces anything, run on demand on an archive that
// already exists (a scheduled run checking last night's archive, an archive
// brought back from elsewhere). Nothing is written anywhere.
#include "archive/ArchiveOperations.h"

#include "cabinet/CabSTComps.h"

#include <QFileInfo>

namespace qv {

bool TestArchive(ArchiveHost &host, TSTCabReader &reader)
{
    Interaction &ui = host.ui();
    const QString archive = host.archiveFileName();
    if (archive.isEmpty() || !QFileInfo(archive).isFile()) {
        ui.message(host.window(), {QStringLiteral("Brak pliku archiwum %1 !").arg(archive), ApplicationTitle(),
                                   MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return false;
    }
    cab::FDICABINETINFO info{};
    if (!reader.IsCabinet(archive.toStdString(), info)) {
        ui.message(host.window(), {QStringLiteral("Plik \"%1\" nie jest plikiem typu .CAB").arg(archive),
                                   ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return false;
    }

    LogWindow *log = OpenStoppableLog(host, archive);
    bool passed = false;
    try {
        const TSTCabTestResult result =
            reader.TestCabinet(archive.toStdString(), [&](TSTCabReader &, const std::string &name, std::int32_t size,
                                                          bool &abort) {
                log->addLine(QStringLiteral("%1 %2 byte(s)").arg(Printable(name), -22).arg(size, 10));
                ui.processEvents();
                abort = log->stopPressed();
            });
        log->addLine(QStringLiteral("Archiwum sprawdzone: %1 plików").arg(result.Files));
        passed = true;
    } catch (const std::exception &e) {
        log->addLine(log->stopPressed()
                         ? QStringLiteral("-!- Sprawdzanie archiwum przerwane -!- ")
                         : QStringLiteral("-!- Archiwum nie przeszło sprawdzenia: %1 -!- ")
                               .arg(PrintableMessage(e.what())));
    }
    FinishStoppableLog(host, *log);
    return passed;
}

}  // namespace qv
