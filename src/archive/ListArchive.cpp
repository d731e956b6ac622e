#include "archive/ArchiveOperations.h"

#include "cabinet/CabSTComps.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"

namespace qv {

std::string Printable(const std::string &utf8) { return PrintableName(utf8); }

std::string PrintableMessage(const char *message) { return PrintableName(Simplified(message)); }

std::string ListingLine(Interaction &ui, const std::string &name, std::int32_t size, std::uint16_t date,
                        std::uint16_t time)
{
    const int year = 1980 + (date >> 9), month = (date >> 5) & 0x0F, day = date & 0x1F;
    const int hour = (time >> 11) & 0x1F, minute = (time >> 5) & 0x3F, second = (time & 0x1F) * 2;
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const bool realDay = month >= 1 && month <= 12 && day >= 1 && day <= days[month - 1] && (month != 2 || leap || day < 29);
    if (!realDay || hour > 23 || minute > 59 || second > 59)
        throw Exception("Invalid date or time of " + name + " in the archive");
    std::string stamp = ui.regionalDate(year, month, day);
    if (hour != 0 || minute != 0 || second != 0)
        stamp += ' ' + ui.regionalTime(hour, minute, second);
    return Format("%1 %2 byte(s) %3", {PadRight(name, 20), PadLeft(std::to_string(size), 8), stamp});
}

ListOutcome ListArchive(ArchiveHost &host, TSTCabReader &reader)
{
    host.setCommandEnabled(ArchiveHost::cmdPokarz, false);
    struct EnableAtEnd {
        ArchiveHost &host;
        ~EnableAtEnd() { host.setCommandEnabled(ArchiveHost::cmdPokarz, true); }
    } enableAtEnd{host};

    const std::string archive = host.archiveFileName();
    if (archive.empty() || !FileExists(archive)) {
        host.ui().message({Format("Brak pliku archiwum %1 !", {archive}), ApplicationTitle(), MsgIcon::None,
                           MsgButtons::Ok, MsgResult::Ok});
        return ListOutcome::NoArchive;
    }
    LogWindow *log = host.ui().openLogWindow();
    log->setCaptionFromTemplate(ExtractFileName(archive));
    log->clearLines();
    bool cabinet = false;
    try {
        cabinet = reader.EnumerateFiles(archive, [&](TSTCabReader &, const std::string &name, std::int32_t size,
                                                     std::uint16_t, std::uint16_t date, std::uint16_t time,
                                                     std::uint16_t, bool &) {
            log->addLine(ListingLine(host.ui(), Printable(name), size, date, time));
        });
    } catch (...) {
        // Never shown: the window goes, the failure goes to the error report.
        log->discard();
        throw;
    }
    log->showModeless();
    return cabinet ? ListOutcome::Listed : ListOutcome::NotCabinet;
}

}  // namespace qv
