#include "archive/ArchiveOperations.h"

#include "cabinet/CabSTComps.h"
#include "platform/errors.h"
#include "platform/text.h"

#include <QFileInfo>
#include <QLocale>

namespace qv {

namespace {

// The user's long time format without a time zone, which no file time has.
QString longTimeFormat()
{
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

}  // namespace

QString Printable(const std::string &utf8) { return QString::fromStdString(PrintableName(utf8)); }

QString PrintableMessage(const char *message)
{
    return QString::fromStdString(PrintableName(QString::fromUtf8(message).simplified().toStdString()));
}

QString ListingLine(const QString &name, std::int32_t size, std::uint16_t date, std::uint16_t time)
{
    const QDate day(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F);
    const QTime clock((time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2);
    if (!day.isValid() || !clock.isValid())
        throw Exception(QStringLiteral("Invalid date or time of %1 in the archive").arg(name).toStdString());
    QString stamp = QLocale::system().toString(day, QLocale::ShortFormat);
    if (clock != QTime(0, 0))
        stamp += QLatin1Char(' ') + QLocale::system().toString(clock, longTimeFormat());
    return QStringLiteral("%1 %2 byte(s) %3").arg(name, -20).arg(size, 8).arg(stamp);
}

ListOutcome ListArchive(ArchiveHost &host, TSTCabReader &reader)
{
    host.setCommandEnabled(ArchiveHost::cmdPokarz, false);
    struct EnableAtEnd {
        ArchiveHost &host;
        ~EnableAtEnd() { host.setCommandEnabled(ArchiveHost::cmdPokarz, true); }
    } enableAtEnd{host};

    const QString archive = host.archiveFileName();
    if (archive.isEmpty() || !QFileInfo(archive).isFile()) {
        host.ui().message(host.window(), {QStringLiteral("Brak pliku archiwum %1 !").arg(archive), ApplicationTitle(),
                                          MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return ListOutcome::NoArchive;
    }
    LogWindow *log = host.ui().openLogWindow();
    log->setCaptionFromTemplate(QFileInfo(archive).fileName());
    log->clearLines();
    bool cabinet = false;
    try {
        cabinet = reader.EnumerateFiles(archive.toStdString(),
                              [log](TSTCabReader &, const std::string &name, std::int32_t size, std::uint16_t,
                                    std::uint16_t date, std::uint16_t time, std::uint16_t, bool &) {
                                  log->addLine(ListingLine(Printable(name), size, date, time));
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
