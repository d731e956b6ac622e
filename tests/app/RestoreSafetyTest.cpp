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
#include <QPushButton>
#include <cctype>

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
            if (Q(list().katalog(r)) == katalog)
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

#ifndef _WIN32
// A link inside the company folder leading out: named as what it is, not as
// an unsafe name in the archive; nothing is written through it.
class LinkInsideTheCompany : public RestoreSafetyFixture, public ::testing::WithParamInterface<const char *> {};

TEST_P(LinkInsideTheCompany, IsNamedAndNotWrittenThrough)
{
    const QString link = QString::fromUtf8(GetParam());
    const QString elsewhere = temp.file(QStringLiteral("gdzie_indziej"));
    QDir().mkpath(elsewhere);
    writeAll(elsewhere + QStringLiteral("/X.DBF"), "poza");
    const QString target = link == QLatin1String("SUB") ? elsewhere : elsewhere + QStringLiteral("/X.DBF");
    const QString inside = QDir(company(QStringLiteral("FIRMA1"))).filePath(link);
    QFile::remove(inside);
    ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), inside.toLocal8Bit().constData()), 0);
    writeArchive({{"FIRMA1\\KSIEGA.DBF", "nowa ksiega"},
                  {link == QLatin1String("SUB") ? "FIRMA1\\SUB\\X.DBF" : "FIRMA1\\PARAM.DAT", "wrogie dane"}});
    const auto before = tree(temp.path());

    const QStringList lines = restore(QStringLiteral("FIRMA1"));

    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.mid(lines.size() - 2),
              (QStringList{QStringLiteral("-!- FIRMA1\\%1 w katalogu firmy jest dowiązaniem do innego miejsca -!- ")
                               .arg(link),
                           " *** Błąd wypakowania danych ! *** "}));
    EXPECT_EQ(tree(temp.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Links, LinkInsideTheCompany, ::testing::Values("SUB", "PARAM.DAT"));

// A restore that fails says which entry and why, or that it was stopped,
// before its failure line, and leaves the company folder as it was.
struct FailedEntry {
    const char *why;
    std::string name;      // inside FIRMA1, as stored (Windows-1250)
    const char *expected;  // the line before the failure line; %1 the entry
    QString shown = {};    // the entry as the log shows it, when not the name
};

void PrintTo(const FailedEntry &f, std::ostream *os) { *os << f.why; }

class FailedRestore : public RestoreSafetyFixture, public ::testing::WithParamInterface<FailedEntry> {};

TEST_P(FailedRestore, NamesTheEntryAndTheReason)
{
    const FailedEntry &f = GetParam();
    const std::string name = "FIRMA1\\" + f.name;
    if (f.why == std::string("a folder in the way")) {
        const QString in = QDir(company(QStringLiteral("FIRMA1"))).filePath(QString::fromStdString(f.name));
        QFile::remove(in);
        ASSERT_TRUE(QDir().mkpath(in));
    }
    if (f.why == std::string("a file in the way")) {
        QFile sub(company(QStringLiteral("FIRMA1")) + QStringLiteral("/SUB"));
        ASSERT_TRUE(sub.open(QIODevice::WriteOnly));
    }
    writeArchive({{"FIRMA1\\PARAM.DAT", "nowe"}, {name, "dane"}});
    const auto before = tree(temp.path());
    if (f.why == std::string("STOP")) {
        ui.onProcessEvents = [] {
            if (Form_Zawartosc && Form_Zawartosc->bb_STOP->isVisible() && Form_Zawartosc->bb_STOP->isEnabled())
                Form_Zawartosc->bb_STOP->click();
        };
    }

    const QStringList lines = restore(QStringLiteral("FIRMA1"));

    ASSERT_GE(lines.size(), 2);
    QString expected = QString::fromUtf8(f.expected);
    expected.replace(QStringLiteral("%1"), f.shown.isEmpty() ? QString::fromStdString(name) : f.shown);
    EXPECT_EQ(lines.mid(lines.size() - 2), (QStringList{expected, " *** Błąd wypakowania danych ! *** "}));
    EXPECT_EQ(tree(temp.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedRestore,
    ::testing::Values(
        FailedEntry{"a folder in the way", "KSIEGA.DBF",
                    "-!- Błąd pliku %1: w jego miejscu w katalogu firmy jest podkatalog -!- "},
        FailedEntry{"a file in the way", "SUB\\X.DBF",
                    "-!- Błąd pliku %1: SUB w katalogu firmy jest plikiem, a nie podkatalogiem -!- "},
        // 200 letters Ł: one byte each in the archive, two each on a Linux
        // disk, whose names stop at 255 bytes.
        FailedEntry{"a name too long", std::string(200, '\xA3') + ".DBF", "-!- Błąd pliku %1: File name too long -!- ",
                    QStringLiteral("FIRMA1\\") + QString(200, QChar(0x141)) + QStringLiteral(".DBF")},
        FailedEntry{"STOP", "KSIEGA.DBF", "-!- Przerwano na żądanie użytkownika (STOP) -!- "}),
    [](const ::testing::TestParamInfo<FailedEntry> &info) {
        std::string n;
        for (const char *c = info.param.why; *c; ++c)
            n += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return n;
    });
#endif

// Names that are odd but lead nowhere: control characters reach the log
// escaped, never raw; an entry that comes twice is restored once, the last
// copy, and said so.
TEST_F(RestoreSafetyFixture, OddNamesAreShownEscapedAndATwiceStoredEntryCountsOnce)
{
    writeArchive({{"FIRMA1\\\x1b[31mCZERWONY.DBF", "esc"},
                  {"FIRMA1\\A\rB.DBF", "cr"},
                  {"FIRMA1\\KSIEGA.DBF", "pierwsza"},
                  {"FIRMA1\\KSIEGA.DBF", "druga wersja"}});

    const QStringList lines = restore(QStringLiteral("FIRMA1"));

    const auto line = [](const char *name, int size) {
        return QStringLiteral("%1 - %2 bajtów").arg(QString::fromUtf8(name), -20).arg(size, 10);
    };
    EXPECT_EQ(lines, (QStringList{line("FIRMA1\\<1B>[31mCZERWONY.DBF", 3), line("FIRMA1\\A<0D>B.DBF", 2),
                                  line("FIRMA1\\KSIEGA.DBF", 8),
                                  "-!- FIRMA1\\KSIEGA.DBF jest w archiwum więcej niż raz - odtwarzany jest ostatni -!- ",
                                  " Kopiowanie/odtwarzanie z Archiwum zakończone. ",
                                  " 3 plików, łączna wielkości 17 bytes"}));
    EXPECT_EQ(readAll(company(QStringLiteral("FIRMA1")) + QStringLiteral("/KSIEGA.DBF")), "druga wersja");
    EXPECT_EQ(readAll(company(QStringLiteral("FIRMA1")) + QStringLiteral("/A\rB.DBF")), "cr");
}
