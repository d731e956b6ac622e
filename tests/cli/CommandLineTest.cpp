// The real program run from the command line, as cron or the Task Scheduler
// runs it: no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM. Each test has
// its own demo data; the program is a copy in a folder of its own, so its
// settings file (beside it) is the test's to write and to watch.
#include "QtFiles.h"
#include "../cabinet/comp_rawcab.h"
#include "DemoData.h"
#include "FtpTestServer.h"
#include "QtPrinters.h"
#include "TempDir.h"
#include "archive/ArchiveName.h"
#include "archive/DataFolderLock.h"
#include "archive/RestoreJournal.h"
#include "platform/errors.h"
#include "platform/filelock.h"
#include "settings/formstorage.h"
#include "settings/inifile.h"
#include "settings/keepers.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

using namespace qv;
using namespace qv::test;

namespace {

const QString kPassword = QStringLiteral("#(wnto)#");

struct Result {
    int status = -1;
    bool crashed = false;
    QString out;
    QString err;
    QStringList outLines() const { return lines(out); }
    QStringList errLines() const { return lines(err); }
    static QStringList lines(const QString &text)
    {
        QStringList l = text.split(QLatin1Char('\n'));
        if (!l.isEmpty() && l.last().isEmpty())
            l.removeLast();
        return l;
    }
};

// The names cabextract reads from an archive (with "\" as the archive has it).
QStringList cabextractNames(const QString &archive)
{
    QProcess p;
    p.start(QStringLiteral("cabextract"), {QStringLiteral("-l"), archive});
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QStringList names;
    for (const QString &line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QStringList cols = line.split(QStringLiteral(" | "));
        if (cols.size() == 3 && !cols[0].contains(QLatin1String("File size")))
            names << QString(cols[2]).replace(QLatin1Char('/'), QLatin1Char('\\')).trimmed();
    }
    names.sort();
    return names;
}

bool cabextractTests(const QString &archive)
{
    QProcess p;
    p.start(QStringLiteral("cabextract"), {QStringLiteral("-t"), archive});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// No window system of any kind for the program.
QProcessEnvironment headlessEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
    return env;
}

class CommandLine : public ::testing::Test {
protected:
    static inline std::unique_ptr<QTemporaryDir> binDir;
    TempDir temp;

    static void SetUpTestSuite()
    {
        binDir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(QFile::copy(QStringLiteral(QV_PROGRAM), program()));
    }
    static void TearDownTestSuite() { binDir.reset(); }

    static QString program() { return QDir(binDir->path()).filePath(QStringLiteral("qvarchiwizator")); }
    static QString settingsFile() { return program() + QStringLiteral(".INI"); }

    void SetUp() override
    {
        QFile::remove(settingsFile());
        QDir().mkpath(temp.file(QStringLiteral("tmp")));
        demo::WriteDemoDataFolder(dataFolder(), demo::RegisterCodePage::Mazovia);
    }
    void TearDown() override { QFile::remove(settingsFile()); }

    QString dataFolder() const { return temp.file(QStringLiteral("LDG_2005")); }
    QString company(const QString &katalog) const { return QDir(dataFolder()).filePath(katalog); }
    QString archive(const QString &name = QStringLiteral("archiwum.cab")) const { return temp.file(name); }

    QProcess *start(const QStringList &args)
    {
        auto *p = new QProcess;
        p->setProcessEnvironment(headlessEnvironment(temp.path()));
        p->setWorkingDirectory(temp.path());
        p->start(program(), args);
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }

    static Result finish(QProcess *p, int timeoutMs = 120000)
    {
        std::unique_ptr<QProcess> owned(p);
        Result r;
        if (!p->waitForFinished(timeoutMs)) {
            p->kill();
            p->waitForFinished();
            ADD_FAILURE() << "the program did not end";
        }
        r.crashed = p->exitStatus() != QProcess::NormalExit;
        r.status = p->exitCode();
        r.out = QString::fromUtf8(p->readAllStandardOutput());
        r.err = QString::fromUtf8(p->readAllStandardError());
        return r;
    }

    Result run(const QStringList &args) { return finish(start(args)); }

    // Every file a company's folder holds at its top level, as the archive names it.
    QStringList filesOf(const QStringList &katalogs) const
    {
        QStringList names;
        for (const QString &k : katalogs)
            for (const QString &f :
                 QDir(company(k)).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
                names << k + QLatin1Char('\\') + f;
        names.sort();
        return names;
    }

    QStringList companiesWithFolders() const
    {
        QStringList k;
        for (const demo::DemoCompany &c : demo::DemoCompanies())
            if (QFileInfo(company(c.katalog)).isDir())
                k << c.katalog;
        return k;
    }

    void setting(const QString &key, const QString &value)
    {
        IniFile(settingsFile()).WriteString(QLatin1String(kMainSection), key, value);
    }

    // Bytes that do not compress, so that a run takes its time over them.
    static void writeRandomFile(const QString &path, int megabytes, quint32 seed)
    {
        QByteArray bytes(megabytes * 1024 * 1024, '\0');
        QRandomGenerator rng(seed);
        rng.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        writeAll(path, bytes);
    }

    // Leftovers of a run: its temporary files, anywhere under the test's folder.
    QStringList temporaries() const
    {
        QStringList found;
        QDirIterator it(temp.path(), {QStringLiteral("*.qv*.tmp"), QStringLiteral(".qvodtworz-*")},
                        QDir::AllEntries | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }

    // A lock on the data folder held from outside, as another run holds it.
    FileHandle holdDataFolder()
    {
        const FileHandle h =
            OpenLockFile(QDir(dataFolder()).filePath(QLatin1String(kDataFolderLockName)).toStdString());
        EXPECT_EQ(TryLockFile(h), FileLockResult::Locked);
        return h;
    }

#ifndef _WIN32
    // Ctrl+C to a run that still runs; never to the whole process group,
    // which a process number of 0 would mean.
    static void interrupt(QProcess *p, int signal = SIGINT)
    {
        const qint64 pid = p->processId();
        ASSERT_GT(pid, 0) << "the run ended before it could be interrupted";
        ::kill(static_cast<pid_t>(pid), signal);
    }
#endif

    // Reads the process's output until a line containing `text` has come.
    static QString waitForOutput(QProcess *p, const QString &text, int timeoutMs = 30000)
    {
        QString seen;
        QElapsedTimer t;
        t.start();
        while (!seen.contains(text) && t.elapsed() < timeoutMs) {
            p->waitForReadyRead(100);
            seen += QString::fromUtf8(p->readAllStandardOutput());
        }
        EXPECT_TRUE(seen.contains(text)) << "never came: " << text.toStdString() << "\n" << seen.toStdString();
        return seen;
    }
};

const QString kEnd = QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---");

}  // namespace

TEST_F(CommandLine, ArchivesEveryCompanyWithNoDisplayAndTheMissingFolderIsLogged)
{
    const Result r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(cabextractNames(archive()), filesOf(companiesWithFolders()));
    EXPECT_TRUE(cabextractTests(archive()));

    const QStringList out = r.outLines();
    ASSERT_GE(out.size(), 16);
    EXPECT_EQ(out[0], QStringLiteral("-- Firma : Biuro Rachunkowe Małgorzata -- "));
    EXPECT_EQ(out[3], QStringLiteral("-!- Brak katalogu LEG dla Firmy Hurtownia Łęg sp. z o.o. -!- "));
    EXPECT_EQ(out[12], QStringLiteral("*** dodaję - czekaj ... ***"));
    // One line per file placed: the name padded to 22, the size in 10.
    static const QRegularExpression placed(QStringLiteral("^(.{22,}) ([ \\d]{10}) byte\\(s\\)$"));
    QStringList placedNames;
    for (const QString &line : out.mid(13, out.size() - 16)) {
        const QRegularExpressionMatch m = placed.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        placedNames << m.captured(1).trimmed();
    }
    placedNames.sort();
    EXPECT_EQ(placedNames, filesOf(companiesWithFolders()));
    EXPECT_EQ(out.mid(out.size() - 3),
              (QStringList{QStringLiteral("Archiwum sprawdzone: 55 plików"), QStringLiteral("***"), kEnd}));
    // The question a window would ask, answered by its default button.
    EXPECT_EQ(r.errLines(), (QStringList{QStringLiteral("Dokonać archiwizacji wybarnych firm ? [12 sztuk]"),
                                         QStringLiteral("Odpowiedź: Tak")}));
    EXPECT_TRUE(temporaries().isEmpty()) << temporaries().join(' ').toStdString();
}

TEST_F(CommandLine, ArchivesTheNamedCompaniesWhateverTheLetterCase)
{
    const Result r = run({"--archive", "--companies", "firma1,Piekarn", "--data", dataFolder(), "--output", archive()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(cabextractNames(archive()), filesOf({"FIRMA1", "PIEKARN"}));
    EXPECT_FALSE(r.out.contains(QLatin1String("XFIRMA1")));

    // The other code page of the register reads the same.
    demo::WriteDemoDataFolder(dataFolder(), demo::RegisterCodePage::CP852);
    const Result again = run({"--archive", "--companies", "zrodlo", "--data", dataFolder(), "--output",
                              archive(QStringLiteral("b.cab"))});
    ASSERT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_EQ(again.outLines().first(), QStringLiteral("-- Firma : Gospodarstwo Źródło -- "));
    EXPECT_EQ(cabextractNames(archive(QStringLiteral("b.cab"))), filesOf({"ZRODLO"}));
}

TEST_F(CommandLine, MissingCompanyFoldersAreLoggedAndARunWithNothingToAddFails)
{
    QDir(company(QStringLiteral("ROZA"))).removeRecursively();
    Result r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.outLines().contains(QStringLiteral("-!- Brak katalogu ROZA dla Firmy Kwiaciarnia Róża -!- ")));
    EXPECT_EQ(cabextractNames(archive()), filesOf(companiesWithFolders()));

    r = run({"--archive", "--companies", "leg,roza", "--data", dataFolder(), "--output", archive("nic.cab")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.outLines().contains(QStringLiteral("Brak plików do archiwizacji - archiwum nie zostało zmienione")));
    EXPECT_EQ(r.outLines().last(), QStringLiteral("Błąd dodawania danych !"));
    EXPECT_FALSE(QFileInfo::exists(archive("nic.cab")));
}

// A restore killed half way (one file moved in, the older one aside) and then
// the nightly archive: the run settles the restore first, says so, and
// archives the company wholly restored. The number in the staging folder's
// name is a live process's (process 1, as in a container; this test's own):
// under the data folder's lock it proves nothing.
TEST_F(CommandLine, AnArchiveRunFirstFinishesWhatACrashedRestoreLeft)
{
    for (const qint64 pid : {qint64{1}, QCoreApplication::applicationPid()}) {
        RestoreJournal journal;
        journal.company = "FIRMA1";
        journal.stage = RestoreJournal::Stage::Moving;
        journal.moves = {{"KSIEGA.DBF", true}, {"NOWY.DBF", false}};
        const QString staging = QDir(dataFolder()).filePath(QStringLiteral(".qvodtworz-%1-abc").arg(pid));
        const QString book = QDir(company(QStringLiteral("FIRMA1"))).filePath(QStringLiteral("KSIEGA.DBF"));
        writeAll(staging + QStringLiteral("/dziennik"), QByteArray::fromStdString(FormatRestoreJournal(journal)));
        writeAll(staging + QStringLiteral("/nowe/NOWY.DBF"), "z archiwum");
        writeAll(staging + QStringLiteral("/zastapione/KSIEGA.DBF"), readAll(book));
        writeAll(book, "z archiwum, już na miejscu");

        const Result r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive(), "--yes"});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const QStringList err = r.errLines();
        const qsizetype at = err.indexOf(QStringLiteral("Odtwarzanie danych firmy w katalogu %1 zostało przerwane.")
                                             .arg(company(QStringLiteral("FIRMA1"))));
        ASSERT_GE(at, 0) << r.err.toStdString();
        EXPECT_EQ(err.value(at + 1), QStringLiteral("Dokończono je: katalog zawiera dane z archiwum."));
        EXPECT_FALSE(QFileInfo::exists(staging));
        EXPECT_EQ(cabextractNames(archive()), filesOf(companiesWithFolders()));
        EXPECT_TRUE(cabextractNames(archive()).contains(QStringLiteral("FIRMA1\\NOWY.DBF")));
        QFile::remove(QDir(company(QStringLiteral("FIRMA1"))).filePath(QStringLiteral("NOWY.DBF")));
    }
}

// Started without arguments where no window can open (a service, a cron job
// that forgot an option): a Polish sentence and status 2, not Qt's abort.
// This is also the check that the tests' environment has no display.
TEST_F(CommandLine, WithoutArgumentsAndWithoutADisplayItSaysSoAndEndsWithStatusTwo)
{
    for (const char *display : {"", ":97"}) {
        QProcessEnvironment env = headlessEnvironment(temp.path());
        if (*display)
            env.insert(QStringLiteral("DISPLAY"), QLatin1String(display));  // no X server there
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program(), {});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << display;
        EXPECT_EQ(p.exitCode(), 2) << display;
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(err.startsWith(QStringLiteral("Nie można otworzyć okna programu: brak dostępnego ekranu")))
            << display << ": " << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("--help")));
    }
}

TEST_F(CommandLine, DefaultsComeFromTheSettingsFileWhichIsNeverWritten)
{
    const QString named = temp.file(QStringLiteral("moje archiwa/nocne.cab"));
    // As the window keeps a name with a blank: quoted, and quoted once more on write.
    setting(QLatin1String(kArchiveFieldKey), QStringLiteral("\"\"%1\"\"").arg(named));
    setting(QLatin1String(kDataFolderKey), QStringLiteral("  %1 ").arg(dataFolder()));
    const QByteArray before = readAll(settingsFile());
    const QDateTime stamp = QFileInfo(settingsFile()).lastModified();

    const Result r = run({"--archive", "--companies", "FIRMA1"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(cabextractNames(named), filesOf({"FIRMA1"}));
    EXPECT_EQ(readAll(settingsFile()), before);
    EXPECT_EQ(QFileInfo(settingsFile()).lastModified(), stamp);
    EXPECT_EQ(QDir(binDir->path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"qvarchiwizator", "qvarchiwizator.INI"}));
}

TEST_F(CommandLine, WithoutASettingsFileTheWindowsDefaultsHoldAndNoFileIsMade)
{
    // The default data folder lies in the Wine prefix of the home folder.
    const QString wine = temp.file(QStringLiteral(".wine/drive_c/LDG_2005"));
    demo::WriteDemoDataFolder(wine, demo::RegisterCodePage::Mazovia);
    const Result r = run({"--archive", "--companies", "apteka", "--generate-name"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList made = QDir(wine).entryList({QStringLiteral("Arch*.cab")}, QDir::Files);
    ASSERT_EQ(made.size(), 1);
    EXPECT_TRUE(IsGeneratedArchiveName(made[0])) << made[0].toStdString();
    EXPECT_EQ(cabextractNames(QDir(wine).filePath(made[0])).size(), 5);
    EXPECT_EQ(QDir(binDir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"qvarchiwizator"});
    EXPECT_FALSE(QFileInfo::exists(temp.file(QStringLiteral(".config/qvarchiwizator"))));
}

TEST_F(CommandLine, AnExistingArchiveIsReplacedOnlyWithYes)
{
    writeAll(archive(), "stare archiwum");
    Result r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readAll(archive()), QByteArray("stare archiwum"));
    EXPECT_EQ(r.out, QString()) << "declined before any log line";
    EXPECT_EQ(r.errLines().first(), QStringLiteral("WYBRANY PLIK ARCHIWUM %1 JUŻ ISTNIEJE !").arg(archive()));
    EXPECT_EQ(r.errLines().last(),
              QStringLiteral("Odpowiedź: Nie - istniejący plik archiwum jest zastępowany tylko z opcją --yes"));

    r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(cabextractNames(archive()), filesOf({"FIRMA1"}));
}

TEST_F(CommandLine, KeepRemovesOnlyOlderGeneratedArchivesAfterTheNewOneIsMade)
{
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive("wzor.cab")}).status,
              0);
    const QByteArray cabinet = readAll(archive("wzor.cab"));
    const QStringList older{"Arch2005-03-03_1415.cab", "Arch2005-03-04_0300.cab", "Arch2004-12-31_2359.cab",
                            "Arch2005-03-05_0300.cab"};
    // A text of the user's that bears the form, and an archive from a clock
    // set years ahead: neither counted nor removed.
    const QStringList unrelated{"Arch2001-01-01_0000.cab.bak", "arch2001-01-01_0000.cab", "Archiwum.cab",
                                "notatki.txt", "Arch2001-01-01_0000.CAB", "Arch2001-01-01_0000.cab"};
    const QString future = QStringLiteral("Arch2999-01-01_0000.cab");
    for (const QString &n : older + QStringList{future})
        writeAll(QDir(dataFolder()).filePath(n), cabinet);
    for (const QString &n : unrelated)
        writeAll(QDir(dataFolder()).filePath(n), n.toUtf8());

    // A run that fails removes nothing.
    Result r = run({"--archive", "--companies", "LEG", "--data", dataFolder(), "--generate-name", "--keep", "1"});
    EXPECT_EQ(r.status, 1);
    for (const QString &n : older + unrelated)
        EXPECT_TRUE(QFileInfo::exists(QDir(dataFolder()).filePath(n))) << n.toStdString();

    r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--generate-name", "--keep", "2"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QStringList made = QDir(dataFolder()).entryList({QStringLiteral("Arch*.cab")}, QDir::Files, QDir::Name);
    for (const QString &n : older + unrelated + QStringList{future})
        made.removeAll(n);
    ASSERT_EQ(made.size(), 1) << "the new archive";
    EXPECT_TRUE(cabextractTests(QDir(dataFolder()).filePath(made[0])));
    QStringList left = QDir(dataFolder()).entryList(QDir::Files, QDir::Name);
    left.removeAll(made[0]);
    QStringList expected = unrelated + QStringList{"Arch2005-03-05_0300.cab", future, "SPISFIRM.DAT",
                                                   QLatin1String(kDataFolderLockName)};
    expected.sort();
    EXPECT_EQ(left, expected);
    const QStringList out = r.outLines();
    EXPECT_EQ(out.mid(out.size() - 4),
              (QStringList{QStringLiteral("Archiwa z datą późniejszą niż teraz nie są liczone ani usuwane: ") +
                               QDir(dataFolder()).filePath(future),
                           QStringLiteral("Usunięto starsze archiwum ") + QDir(dataFolder()).filePath(older[2]),
                           QStringLiteral("Usunięto starsze archiwum ") + QDir(dataFolder()).filePath(older[0]),
                           QStringLiteral("Usunięto starsze archiwum ") + QDir(dataFolder()).filePath(older[1])}));
    EXPECT_EQ(out[out.size() - 5], kEnd);
}

TEST_F(CommandLine, ListTestAndRestoreAnArchive)
{
    ASSERT_EQ(run({"--archive", "--all", "--data", dataFolder(), "--output", archive()}).status, 0);
    const QStringList names = filesOf(companiesWithFolders());

    Result r = run({"--list", archive()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_EQ(r.outLines().size(), names.size());
    EXPECT_EQ(r.outLines().filter(QStringLiteral("FIRMA1\\KSIEGA.DBF       21506 byte(s) ")).size(), 1)
        << r.out.toStdString();
    EXPECT_EQ(r.err, QString());

    r = run({"--test", archive()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.outLines().size(), names.size() + 1);
    EXPECT_EQ(r.outLines().last(), QStringLiteral("Archiwum sprawdzone: %1 plików").arg(names.size()));

    // Restore: never without --yes.
    const QString book = QDir(company(QStringLiteral("FIRMA1"))).filePath(QStringLiteral("KSIEGA.DBF"));
    const QByteArray original = readAll(book);
    const QByteArray neighbour = readAll(QDir(company(QStringLiteral("XFIRMA1"))).filePath(QStringLiteral("KSIEGA.DBF")));
    writeAll(book, "zepsute");
    QFile::remove(QDir(company(QStringLiteral("FIRMA1"))).filePath(QStringLiteral("PARAM.DAT")));
    r = run({"--restore", "firma1", "--from", archive(), "--data", dataFolder()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errLines().first(), QStringLiteral("qvarchiwizator: Odtwarzanie zastępuje pliki firmy danymi z "
                                                   "archiwum: potwierdź je opcją --yes"));
    EXPECT_EQ(readAll(book), QByteArray("zepsute"));

    r = run({"--restore", "firma1", "--from", archive(), "--data", dataFolder(), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(readAll(book), original);
    EXPECT_TRUE(QFileInfo::exists(QDir(company(QStringLiteral("FIRMA1"))).filePath(QStringLiteral("PARAM.DAT"))));
    EXPECT_EQ(readAll(QDir(company(QStringLiteral("XFIRMA1"))).filePath(QStringLiteral("KSIEGA.DBF"))), neighbour);
    EXPECT_EQ(r.outLines().mid(r.outLines().size() - 2),
              (QStringList{QStringLiteral(" Kopiowanie/odtwarzanie z Archiwum zakończone. "),
                           QStringLiteral(" 5 plików, łączna wielkości 23896 bytes")}));
    EXPECT_TRUE(r.errLines().contains(QStringLiteral("Na pewno odtworzyć  dane dla firmy Biuro Rachunkowe Małgorzata ?")));

    r = run({"--restore", "NIEMA", "--from", archive(), "--data", dataFolder(), "--yes"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errLines().first(),
              QStringLiteral("qvarchiwizator: Nieznana firma \"NIEMA\": rejestr SPISFIRM.DAT w katalogu %1 nie ma "
                             "takiego katalogu firmy")
                  .arg(dataFolder()));
    // A company of the register that the archive does not hold.
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive("cwik.cab")}).status,
              0);
    r = run({"--restore", "apteka", "--from", archive("cwik.cab"), "--data", dataFolder(), "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.outLines().last(), QStringLiteral("*!* Nie odnaleziono danych wskazanej firmy w Archiwum *!*"));

    // An archive that is not there: said before anything is asked.
    r = run({"--restore", "FIRMA1", "--from", archive("brak.cab"), "--data", dataFolder(), "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), QStringList{QStringLiteral("Brak pliku archiwum %1 !").arg(archive("brak.cab"))});
    EXPECT_EQ(r.out, QString());

    // Names that would steer a terminal or break a line are listed escaped.
    writeAll(archive("wrogie.cab"),
             QByteArray::fromStdString(cabtest::buildRawCabinet(
                 {{"FIRMA1\\\x1b]0;tytul\x07X.DBF", "a"}, {"FIRMA1\\A\nB\rC.DBF", "b"}})));
    r = run({"--list", archive("wrogie.cab")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QChar(0x1b)) || r.out.contains(QChar(0x07)) || r.out.contains(QLatin1Char('\r')));
    ASSERT_EQ(r.outLines().size(), 2) << r.out.toStdString();
    EXPECT_TRUE(r.outLines()[0].startsWith(QStringLiteral("FIRMA1\\<1B>]0;tytul<07>X.DBF ")));
    EXPECT_TRUE(r.outLines()[1].startsWith(QStringLiteral("FIRMA1\\A<0A>B<0D>C.DBF ")));
}

TEST_F(CommandLine, EveryFailureEndsWithStatusOneAndSaysWhy)
{
    // Missing register.
    QDir().mkpath(temp.file(QStringLiteral("pusty")));
    Result r = run({"--archive", "--all", "--data", temp.file(QStringLiteral("pusty")), "--output", archive()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(),
              QStringList{QStringLiteral("Podany katalog %1 nie zawiera pliku SPISFIRM.DAT").arg(temp.file("pusty"))});
    EXPECT_EQ(r.out, QString());

    // An output that names a folder, or that cannot be written (its folder
    // would have to be made inside a file): said before anything is compressed.
    writeAll(temp.file(QStringLiteral("plik")), "x");
    const struct {
        QString output;
        QString reason;
    } unwritable[] = {{temp.file("plik/a.cab"), QString::fromStdString(SysErrorMessage(ENOTDIR))},
                      {dataFolder(), QStringLiteral("pod tą nazwą jest katalog")}};
    for (const auto &u : unwritable) {
        r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", u.output, "--yes"});
        EXPECT_EQ(r.status, 1);
        const QStringList err = r.errLines();
        const qsizetype at = err.indexOf(QStringLiteral("Nie można zapisać archiwum %1").arg(u.output));
        ASSERT_GE(at, 0) << r.err.toStdString();
        EXPECT_EQ(err.value(at + 1), u.reason);
        EXPECT_FALSE(r.out.contains(QLatin1String("-- Firma"))) << r.out.toStdString();
    }

    // Damaged archive: its last blocks spoiled.
    ASSERT_EQ(run({"--archive", "--all", "--data", dataFolder(), "--output", archive()}).status, 0);
    QByteArray cab = readAll(archive());
    for (int i = 1; i <= 64; ++i)
        cab[cab.size() - i] = static_cast<char>(cab[cab.size() - i] ^ 0x5A);
    writeAll(archive(), cab);
    r = run({"--test", archive()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.outLines().last().startsWith(QStringLiteral("-!- Archiwum nie przeszło sprawdzenia: ")))
        << r.out.toStdString();
    const QByteArray fund = readAll(QDir(company(QStringLiteral("FUNDACJA"))).filePath(QStringLiteral("KSIEGA.DBF")));
    r = run({"--restore", "FUNDACJA", "--from", archive(), "--data", dataFolder(), "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.outLines().last(), QStringLiteral(" *** Błąd wypakowania danych ! *** "));
    EXPECT_EQ(readAll(QDir(company(QStringLiteral("FUNDACJA"))).filePath(QStringLiteral("KSIEGA.DBF"))), fund);

    // Not a cabinet, and no file at all.
    writeAll(archive("tekst.cab"), "zwykły tekst");
    r = run({"--list", archive("tekst.cab")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), QStringList{QStringLiteral("Plik \"%1\" nie jest plikiem typu .CAB").arg(archive("tekst.cab"))});
    r = run({"--test", archive("brak.cab")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), QStringList{QStringLiteral("Brak pliku archiwum %1 !").arg(archive("brak.cab"))});

    // A log file that cannot be opened stops the run before anything is done.
    r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive("x.cab"), "--log", temp.file("plik/d.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("Nie można otworzyć pliku dziennika %1: ").arg(temp.file("plik/d.txt"))));
    EXPECT_FALSE(QFileInfo::exists(archive("x.cab")));

    // A log file that takes no line (a full disk) fails the run, said on
    // standard error, though the archive itself was made.
    r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive("x.cab"), "--log",
             "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.errLines().last().startsWith(QStringLiteral("Nie można zapisać pliku dziennika /dev/full: ")))
        << r.err.toStdString();
    EXPECT_EQ(r.outLines().last(), kEnd);
    QFile::remove(archive("x.cab"));

    // A usage error, by contrast, is status 2.
    r = run({"--archive", "--companies", "FIRMA1,NIEMA", "--data", dataFolder(), "--output", archive("x.cab")});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(QFileInfo::exists(archive("x.cab")));
    EXPECT_TRUE(temporaries().isEmpty()) << temporaries().join(' ').toStdString();
}

TEST_F(CommandLine, TheLogFileGathersAWeekOfRunsAndTheProgressStaysOnTheTerminal)
{
    const QString log = temp.file(QStringLiteral("nocne.log"));
    ASSERT_EQ(run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(), "--log", log})
                  .status,
              0);
    const Result refused = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(),
                                "--log", log});
    ASSERT_EQ(refused.status, 1);

    if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
        GTEST_SKIP() << "no script(1) to give the program a terminal";
    // On a terminal: the progress line is drawn (and wiped) on standard output.
    QProcess tty;
    tty.setProcessEnvironment(headlessEnvironment(temp.path()));
    tty.start(QStringLiteral("script"),
              {QStringLiteral("-qec"),
               QStringLiteral("%1 --archive --companies FIRMA1 --data %2 --output %3 --yes --log %4")
                   .arg(program(), dataFolder(), archive(), log),
               QStringLiteral("/dev/null")});
    ASSERT_TRUE(tty.waitForFinished(60000));
    const QString shown = QString::fromUtf8(tty.readAllStandardOutput());
    EXPECT_TRUE(shown.contains(QRegularExpression(QStringLiteral("\r100% \\([^)]+\\)")))) << shown.toStdString();

    const QStringList lines = Result::lines(QString::fromUtf8(readAll(log)));
    static const QRegularExpression stamped(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} [^\\r]*$"));
    for (const QString &line : lines)
        EXPECT_TRUE(stamped.match(line).hasMatch()) << line.toStdString();
    QStringList texts;
    for (const QString &line : lines)
        texts << line.mid(20);
    EXPECT_EQ(texts.count(QStringLiteral("=== koniec, kod wyjścia 0")), 2);
    EXPECT_EQ(texts.count(QStringLiteral("=== koniec, kod wyjścia 1")), 1);
    EXPECT_EQ(texts.count(kEnd), 2);
    EXPECT_EQ(texts.count(QStringLiteral("Dokonać archiwizacji wybarnych firm ? [1 sztuk]")), 1);
    EXPECT_EQ(texts.count(QStringLiteral("Odpowiedź: Nie - istniejący plik archiwum jest zastępowany tylko z opcją "
                                         "--yes")),
              1);
    EXPECT_EQ(texts.filter(QStringLiteral("%")).size(), 0) << "no progress in the log";
    EXPECT_TRUE(texts.first().startsWith(QStringLiteral("=== qvarchiwizator --archive --companies FIRMA1")));
    // Which archive each run made, above its lines.
    EXPECT_EQ(texts.count(QStringLiteral("=== Zawartość archiwum archiwum.cab")), 2);
}

TEST_F(CommandLine, UploadsTheNewArchiveAndARefusedLoginFails)
{
    FtpTestServer server(QStringLiteral("qv"), kPassword);
    ASSERT_EQ(server.failure(), "");
    setting(QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    setting(QStringLiteral("port"), QString::number(server.port()));
    setting(QLatin1String(kDataFolderKey), dataFolder());
    const QString log = temp.file(QStringLiteral("nocne.log"));

    // The nightly run: archive, keep a week, send.
    Result r = run({"--archive", "--all", "--generate-name", "--keep", "7", "--upload", "--log", log});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    const QStringList made = QDir(dataFolder()).entryList({QStringLiteral("Arch*.cab")}, QDir::Files);
    ASSERT_EQ(made.size(), 1);
    ASSERT_EQ(server.storedNames().size(), 1);
    EXPECT_EQ(server.stored(server.storedNames()[0]), readAll(QDir(dataFolder()).filePath(made[0])));
    const QStringList out = r.outLines();
    EXPECT_TRUE(out.contains(kEnd));
    EXPECT_TRUE(out.contains(QStringLiteral("Wysyłanie pliku %1 - start").arg(made[0])));
    EXPECT_EQ(out.last(), QStringLiteral(" *** Koniec przesyłania *** "));
    // However few of the progress lines the console keeps, the whole count is one.
    const int sent = out.indexOf(QStringLiteral("Koniec wysyłania"));
    ASSERT_GT(sent, 0);
    EXPECT_EQ(out[sent - 1],
              QStringLiteral("Wysłano już (%1)").arg(QFileInfo(QDir(dataFolder()).filePath(made[0])).size()));
    EXPECT_TRUE(r.errLines().contains(QStringLiteral("Wysłać plik \"%1\" internetowym protokołem FTP ?").arg(made[0])));

    // A refused login: the archive is made, the upload fails, and so does the run.
    setting(QStringLiteral("pw"), EncodeStoredValue(QStringLiteral("złe hasło"), QLatin1String(kFtpKeyString)));
    r = run({"--archive", "--companies", "FIRMA1", "--output", archive(), "--upload"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.outLines().contains(kEnd));
    EXPECT_EQ(r.outLines().last(), QStringLiteral(" *** Przesyłanie nieudane *** "));
    EXPECT_FALSE(r.out.contains(QLatin1String("Koniec przesyłania")));
    EXPECT_TRUE(cabextractTests(archive()));
    EXPECT_EQ(server.storedNames().size(), 1);

    // A failed archive is never sent.
    r = run({"--archive", "--companies", "LEG", "--output", archive("nic.cab"), "--upload"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.out.contains(QLatin1String("Wysyłanie")));
}

TEST_F(CommandLine, ASecondRunOnABusyDataFolderWaitsThenGivesUpClearly)
{
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive("cwik.cab")}).status,
              0);
    const FileHandle held = holdDataFolder();
    QElapsedTimer t;
    t.start();
    const Result r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive(), "--lock-wait", "1"});
    EXPECT_GE(t.elapsed(), 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.outLines(),
              QStringList{QStringLiteral("Katalog danych %1 jest zajęty przez inną operację programu - czekam do 1 s ...")
                              .arg(dataFolder())});
    EXPECT_EQ(r.errLines(), (QStringList{QStringLiteral("Katalog danych %1 jest zajęty przez inną operację programu "
                                                        "(archiwizację lub odtwarzanie).")
                                             .arg(dataFolder()),
                                         QStringLiteral("Spróbuj ponownie, gdy się zakończy.")}));
    EXPECT_FALSE(QFileInfo::exists(archive()));

    // A restore waits the same way; Ctrl+C ends the wait at once.
    QProcess *p = start({"--restore", "CWIK", "--from", archive("cwik.cab"), "--data", dataFolder(), "--yes"});
    waitForOutput(p, QStringLiteral("czekam do 60 s"));
    interrupt(p);
    t.restart();
    const Result stopped = finish(p);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(stopped.status, 1);
    FileClose(held);
}

TEST_F(CommandLine, AWaitingRunGoesOnOnceTheFolderIsFree)
{
    FileHandle held = holdDataFolder();
    QProcess *p = start({"--archive", "--all", "--data", dataFolder(), "--output", archive(), "--lock-wait", "60"});
    waitForOutput(p, QStringLiteral("czekam do 60 s"));
    EXPECT_FALSE(QFileInfo::exists(archive()));
    FileClose(held);
    const Result r = finish(p);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(cabextractTests(archive()));
}

TEST_F(CommandLine, TwoRunsAtOnceOnOneDataFolderNeitherSpoilsTheOther)
{
    // Enough data that the two runs overlap.
    writeRandomFile(QDir(company(QStringLiteral("FIRMA1"))).filePath(QStringLiteral("DUZY.DAT")), 6, 13);
    const QStringList args{"--archive", "--all", "--data", dataFolder(), "--output", archive(), "--yes"};
    QProcess *a = start(args);
    QProcess *b = start(args);
    // And a restore in between, into the same data folder.
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive("cwik.cab")}).status,
              0);
    QProcess *c = start({"--restore", "CWIK", "--from", archive("cwik.cab"), "--data", dataFolder(), "--yes"});
    const Result ra = finish(a);
    const Result rb = finish(b);
    const Result rc = finish(c);
    EXPECT_EQ(ra.status, 0) << ra.out.toStdString() << ra.err.toStdString();
    EXPECT_EQ(rb.status, 0) << rb.out.toStdString() << rb.err.toStdString();
    EXPECT_EQ(rc.status, 0) << rc.out.toStdString() << rc.err.toStdString();
    EXPECT_TRUE(cabextractTests(archive()));
    EXPECT_EQ(cabextractNames(archive()), filesOf(companiesWithFolders()));
    EXPECT_TRUE(temporaries().isEmpty()) << temporaries().join(' ').toStdString();
}

// Ctrl+C, or the system ending the program (SIGTERM at shutdown): the run
// stops cleanly and its log says it was stopped, and by whom, so that a
// scheduled run's log does not read like damaged data.
TEST_F(CommandLine, CtrlCOrSigtermStopsAnArchiveRunSaysSoAndLeavesTheOldArchiveAndNoTemporaries)
{
    // Large enough that the run is still compressing when the signal comes.
    writeRandomFile(QDir(company(QStringLiteral("FIRMA1"))).filePath(QStringLiteral("DUZY.DAT")), 48, 7);
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive()}).status, 0);
    const QByteArray old = readAll(archive());

    const struct {
        int signal;
        QString line;
    } stops[] = {{SIGINT, QStringLiteral("-!- Przerwano na żądanie użytkownika (Ctrl+C) -!- ")},
                 {SIGTERM, QStringLiteral("-!- Przerwano: system zakończył program (sygnał zakończenia, zamknięcie "
                                          "konsoli lub systemu) -!- ")}};
    for (const auto &stop : stops) {
        QProcess *p =
            start({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(), "--yes"});
        waitForOutput(p, QStringLiteral("-- Firma : "));
        interrupt(p, stop.signal);
        const Result r = finish(p);
        EXPECT_EQ(r.status, 1);
        const QStringList out = r.outLines();
        EXPECT_EQ(out.mid(out.size() - 3), (QStringList{stop.line, "***", "Błąd dodawania danych !"}))
            << r.out.toStdString();
        EXPECT_EQ(readAll(archive()), old);
        EXPECT_TRUE(temporaries().isEmpty()) << temporaries().join(' ').toStdString();
    }
}

// A temporary folder that takes no more: the log names that folder, not the
// company file being read when it filled.
TEST_F(CommandLine, AFullTemporaryFolderIsNamedAsSuch)
{
    writeRandomFile(QDir(company(QStringLiteral("FIRMA1"))).filePath(QStringLiteral("DUZY.DAT")), 4, 11);
    // No file may grow past 1 MiB: the first to try is the work file of the
    // compression, in the temporary folder.
    QProcess p;
    p.setProcessEnvironment(headlessEnvironment(temp.path()));
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 1024; exec \"$0\" \"$@\""),
                                   program(), QStringLiteral("--archive"), QStringLiteral("--companies"),
                                   QStringLiteral("FIRMA1"), QStringLiteral("--data"), dataFolder(),
                                   QStringLiteral("--output"), archive()});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 1);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("-!- Błąd pliku tymczasowego w katalogu %1: %2 -!- ")
                                 .arg(temp.file(QStringLiteral("tmp")),
                                      QString::fromStdString(SysErrorMessage(EFBIG)).remove(QLatin1Char('.')))))
        << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("Błąd pliku ") + company(QStringLiteral("FIRMA1")))) << out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(archive()));
}

TEST_F(CommandLine, AReaderOfTheOutputThatGoesAwayDoesNotStopTheRun)
{
    // Standard output is a pipe whose reading end is already closed, as after
    // "| head -1": every write fails.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const QStringList args{program(), "--archive", "--all", "--data", dataFolder(), "--output", archive()};
    std::vector<QByteArray> argBytes, envBytes;
    for (const QString &a : args)
        argBytes.push_back(a.toLocal8Bit());
    for (const QString &e : headlessEnvironment(temp.path()).toStringList())
        envBytes.push_back(e.toLocal8Bit());
    std::vector<char *> argv, envp;
    for (QByteArray &b : argBytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    for (QByteArray &b : envBytes)
        envp.push_back(b.data());
    envp.push_back(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(cabextractTests(archive()));
}

TEST_F(CommandLine, HelpVersionAndUsageErrors)
{
    Result r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Użycie:\n  qvarchiwizator --archive")));
    EXPECT_EQ(r.err, QString());
    r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, QStringLiteral("qvarchiwizator 1.0\n"));
    r = run({"--archive", "--wszystkie"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errLines(), (QStringList{QStringLiteral("qvarchiwizator: Nieznana opcja --wszystkie"),
                                         QStringLiteral("Opis użycia: qvarchiwizator --help")}));
    EXPECT_EQ(r.out, QString());
}
