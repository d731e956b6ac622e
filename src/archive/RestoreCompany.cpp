#include "archive/ArchiveOperations.h"

#include "cabinet/CabSTComps.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "register/CompanyList.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <vector>

namespace qv {

namespace {

// Moves the files extracted into a staging folder over the company folder,
// all or nothing: each replaced file is kept aside until every file is in
// place, and put back if any move fails.
class StagedRestore {
public:
    StagedRestore(const QString &staging, const QString &target) : staging_(staging), target_(target) {}

    void commit()
    {
        const QString aside = QDir(staging_).filePath(QStringLiteral(".zastapione"));
        std::vector<QString> files;
        QDirIterator it(staging_, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.startsWith(aside + QLatin1Char('/')))
                files.push_back(QDir(staging_).relativeFilePath(path));
        }
        const bool targetExisted = QFileInfo(target_).isDir();
        try {
            for (const QString &relative : files) {
                const QString from = QDir(staging_).filePath(relative);
                const QString to = QDir(target_).filePath(relative);
                if (!ForceDirectories(QFileInfo(to).absolutePath().toStdString()))
                    RaiseLastOSError();
                if (QFileInfo(to).isFile()) {
                    const QString kept = QDir(aside).filePath(relative);
                    if (!ForceDirectories(QFileInfo(kept).absolutePath().toStdString()))
                        RaiseLastOSError();
                    clearReadOnly(to);
                    if (!FileRename(to.toStdString(), kept.toStdString()))
                        RaiseLastOSError();
                    replaced_.push_back({to, kept});
                }
                if (!FileRename(from.toStdString(), to.toStdString()))
                    RaiseLastOSError();
                placed_.push_back(to);
            }
        } catch (...) {
            rollBack(targetExisted);
            throw;
        }
    }

private:
    static void clearReadOnly(const QString &path)
    {
        const std::uint32_t attrs = FileGetAttributes(path.toStdString());
        if (attrs != InvalidFileAttributes && (attrs & 0x01))
            FileSetAttributes(path.toStdString(), attrs & ~0x01u);
    }

    void rollBack(bool targetExisted)
    {
        for (const QString &path : placed_)
            FileDelete(path.toStdString());
        for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it)
            FileRename(it->second.toStdString(), it->first.toStdString());
        if (!targetExisted)
            QDir(target_).removeRecursively();
    }

    QString staging_;
    QString target_;
    std::vector<QString> placed_;
    std::vector<std::pair<QString, QString>> replaced_;
};

class RestoreRun {
public:
    RestoreRun(ArchiveHost &host, TSTCabReader &reader, LogWindow &log, const QString &katalog)
        : host_(host), reader_(reader), log_(log), katalog_(katalog)
    {
    }

    ~RestoreRun()
    {
        reader_.OnCopyFile = nullptr;
        reader_.OnCloseFile = nullptr;
    }

    // Number of files and bytes of the company that were restored.
    void run(const QString &archive, std::int32_t &files, std::int32_t &bytes)
    {
        const std::string prefix = (katalog_ + QLatin1Char('\\')).toStdString();
        const bool usable = IsUsableKatalog(katalog_);
        const QString target = ResolveEntryIgnoringCase(host_.dataFolder(), katalog_);
        total_ = usable ? companyBytes(archive, prefix) : 0;

        // Beside the company folder, so that the final moves stay on one disk.
        QTemporaryDir staging(JoinFsPath(host_.dataFolder(), QStringLiteral(".qvodtworz-XXXXXX")));
        if (usable && !staging.isValid())
            throw Exception(staging.errorString().toStdString());

        reader_.OnCopyFile = [&](TSTCabReader &, const std::string &name, std::int32_t size, std::uint16_t,
                                 std::uint16_t, std::uint16_t, std::uint16_t, std::string &dest, bool &abort) {
            if (usable && name.compare(0, prefix.size(), prefix) == 0) {
                ++files;
                bytes += size;
                log_.addLine(QStringLiteral("%1 - %2 bajtów").arg(QString::fromStdString(name), -20).arg(size, 10));
                QString inside = QString::fromStdString(name.substr(prefix.size()));
                inside.replace(QLatin1Char('\\'), QLatin1Char('/'));
                dest = QDir(staging.path()).filePath(inside).toStdString();
            } else {
                dest.clear();
            }
            host_.ui().processEvents();
            abort = log_.stopPressed();
        };
        reader_.OnCloseFile = [&](TSTCabReader &, const std::string &, std::uint16_t, std::uint16_t, std::uint16_t,
                                  std::uint16_t, bool &, const std::string &dest, bool &abort) {
            done_ += QFileInfo(QString::fromStdString(dest)).size();
            log_.setProgress(done_, total_);
            host_.ui().processEvents();
            abort = log_.stopPressed();
        };
        reader_.ExtractFiles(archive.toStdString(), staging.path().toStdString(), false);
        if (files > 0)
            StagedRestore(staging.path(), target).commit();
    }

private:
    qint64 companyBytes(const QString &archive, const std::string &prefix)
    {
        qint64 total = 0;
        reader_.EnumerateFiles(archive.toStdString(),
                               [&](TSTCabReader &, const std::string &name, std::int32_t size, std::uint16_t,
                                   std::uint16_t, std::uint16_t, std::uint16_t, bool &) {
                                   if (name.compare(0, prefix.size(), prefix) == 0)
                                       total += size;
                               });
        return total;
    }

    ArchiveHost &host_;
    TSTCabReader &reader_;
    LogWindow &log_;
    QString katalog_;
    qint64 total_ = 0;
    qint64 done_ = 0;
};

}  // namespace

bool RestoreCompany(ArchiveHost &host, TSTCabReader &reader)
{
    Interaction &ui = host.ui();
    struct EnableAtEnd {
        ArchiveHost &host;
        ~EnableAtEnd() { host.setCommandEnabled(ArchiveHost::cmdRestore, true); }
    } enableAtEnd{host};

    const QString archive = host.archiveFileName();
    const int row = host.currentRow();
    TCompanyList &list = host.companies();
    const bool hasRow = row >= 0 && row < list.count();
    // The company is fixed here: moving the grid meanwhile changes nothing.
    const QString firma = hasRow ? list.firma(row) : QString();
    const QString katalog = hasRow ? list.katalog(row) : QString();

    if (ui.message(host.window(), {QStringLiteral("Odtworzyć z archiwum %1 dane\rdla firmy %2 w katalogu %3 ?")
                                       .arg(QFileInfo(archive).fileName(), firma, katalog),
                                   QStringLiteral("Potwierdź odtworzenie... "), MsgIcon::Question, MsgButtons::YesNo,
                                   MsgResult::No}) != MsgResult::Yes)
        return false;
    ui.beep();
    if (ui.message(host.window(),
                   {QStringLiteral("Dla pewności potwierdź jeszcze jeden raz.\r\rNa pewno odtworzyć  dane dla firmy %1 ?")
                        .arg(firma),
                    QStringLiteral("Potwierdź ostatecznie odtworzenie... "), MsgIcon::Question, MsgButtons::YesNo,
                    MsgResult::No}) != MsgResult::Yes)
        return false;

    std::int32_t RestoreFileCount = 0;
    std::int32_t RestoreByteCount = 0;
    cab::FDICABINETINFO info{};
    if (!reader.IsCabinet(archive.toStdString(), info)) {
        ui.message(host.window(), {QStringLiteral("Plik \"%1\" nie jest plikiem typu .CAB").arg(archive),
                                   ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return false;
    }

    LogWindow *log = OpenStoppableLog(host, archive);
    bool failed = false;
    try {
        RestoreRun(host, reader, *log, katalog).run(archive, RestoreFileCount, RestoreByteCount);
        if (RestoreFileCount == 0) {
            log->addLine(QStringLiteral("*!* Nie odnaleziono danych wskazanej firmy w Archiwum *!*"));
        } else {
            log->addLine(QStringLiteral(" Kopiowanie/odtwarzanie z Archiwum zakończone. "));
            log->addLine(QStringLiteral(" %1 plików, łączna wielkości %2 bytes").arg(RestoreFileCount).arg(RestoreByteCount));
        }
    } catch (const std::exception &) {
        log->addLine(QStringLiteral(" *** Błąd wypakowania danych ! *** "));
        failed = true;
    }
    FinishStoppableLog(host, *log);
    return !failed && RestoreFileCount > 0;
}

}  // namespace qv
