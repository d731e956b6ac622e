// Restore through the real main window from hostile archives: entries whose
// names would leave the company folder, and a company folder that is a link
// leading out of the data folder. The run fails, names the culprit in the
// log, and nothing anywhere changes.
#include "QtFiles.h"
#include "../cabinet/comp_rawcab.h"
#include "AppFixture.h"
#include "archive/DataFolderLock.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace qv;
using namespace qv::test;

namespace {

// Every file and folder below a folder, with a digest of each file's bytes;
// not the data folder's lock file, which any restore may create and which
// holds nothing.
QMap<QString, QString> tree(const QString &folder)
{
    QMap<QString, QString> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName() == QLatin1String(kDataFolderLockName))
            continue;
        out.insert(QDir(folder).relativeFilePath(path),
                   QFileInfo(path).isDir()
                       ? QStringLiteral("<dir>")
                       : QString::fromLatin1(QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha1).toHex()));
    }
    return out;
}

class RestoreSafetyFixture : public AppFixture {
protected:
    QString archive() const { return temp.file(QStringLiteral("wrogie.cab")); }
    QString company(const QString &katalog) const { return QDir(dataFolder()).filePath(katalog); }

    void writeArchive(const std::vector<cabtest::RawFile> &files)
    {
        const std::string bytes = cabtest::buildRawCabinet(files);
        QFile f(archive());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }

    QStringList restore(const QString &katalog)
    {
        startOnDemo(archive());
        for (int r = 0; r < list().count(); ++r)
            if (list().katalog(r) == katalog)
                grid().setCurrentRow(r);
        Form_Zawartosc.clear();
        ui.answers = {MsgResult::Yes, MsgResult::Yes};
        window->act_RestoreExecute();
        return Form_Zawartosc ? Form_Zawartosc->lines() : QStringList{QStringLiteral("<no log window>")};
    }
};

// %T stands for the test's temporary folder, so that an absolute name points
// somewhere the test can watch.
class HostileEntryName : public RestoreSafetyFixture, public ::testing::WithParamInterface<const char *> {};

}  // namespace

TEST_P(HostileEntryName, FailsTheRestoreNamesTheEntryAndWritesNothing)
{
    std::string name = GetParam();
    const std::size_t at = name.find("%T");
    if (at != std::string::npos)
        name.replace(at, 2, temp.path().toStdString());
    writeArchive({{"FIRMA1\\KSIEGA.DBF", "nowa ksiega"}, {name, "wrogie dane"}, {"FIRMA1\\PARAM.DAT", "nowe"}});
    const auto before = tree(temp.path());

    const QStringList lines = restore(QStringLiteral("FIRMA1"));

    EXPECT_EQ(lines, (QStringList{QStringLiteral("%1 - %2 bajtów").arg(QStringLiteral("FIRMA1\\KSIEGA.DBF"), -20)
                                      .arg(11, 10),
                                  "-!- Niebezpieczna nazwa w archiwum: " + QString::fromStdString(name) + " -!- ",
                                  " *** Błąd wypakowania danych ! *** "}));
    EXPECT_EQ(tree(temp.path()), before) << "the company folder, its neighbours and everything outside unchanged";
}

INSTANTIATE_TEST_SUITE_P(Names, HostileEntryName,
                         ::testing::Values("FIRMA1\\..\\XFIRMA1\\KSIEGA.DBF", "FIRMA1\\..\\..\\poza.txt",
                                           "FIRMA1\\..\\poza.txt", "FIRMA1\\a/../../XFIRMA1/PARAM.DAT",
                                           "FIRMA1\\a\\..\\..\\..\\poza.txt", "FIRMA1\\/%T/poza.txt",
                                           "FIRMA1\\\\poza.txt", "FIRMA1\\C:\\poza.txt", "FIRMA1\\C:poza.txt",
                                           "FIRMA1\\..", "FIRMA1\\"));

#ifndef _WIN32
// Out of the data folder, onto another company, onto the data folder itself.
class LinkedCompanyFolder : public RestoreSafetyFixture, public ::testing::WithParamInterface<const char *> {};

TEST_P(LinkedCompanyFolder, IsNotWrittenThrough)
{
    const QString elsewhere = temp.file(QStringLiteral("gdzie_indziej"));
    ASSERT_TRUE(QDir().rename(company(QStringLiteral("FIRMA1")), elsewhere));
    const QString target = QString::fromUtf8(GetParam()) == QLatin1String("elsewhere")
                               ? elsewhere
                               : QDir(dataFolder()).filePath(QString::fromUtf8(GetParam()));
    ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), company(QStringLiteral("FIRMA1")).toLocal8Bit().constData()),
              0);
    writeArchive({{"FIRMA1\\KSIEGA.DBF", "nowa ksiega"}, {"FIRMA1\\SPISFIRM.DAT", "nowy spis"}});
    const auto before = tree(temp.path());

    const QStringList lines = restore(QStringLiteral("FIRMA1"));

    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.mid(lines.size() - 2), (QStringList{"-!- Katalog FIRMA1 jest dowiązaniem do innego miejsca -!- ",
                                                        " *** Błąd wypakowania danych ! *** "}));
    EXPECT_EQ(tree(temp.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Targets, LinkedCompanyFolder, ::testing::Values("elsewhere", "XFIRMA1", "."));
#endif
