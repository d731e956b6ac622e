#include "QtFiles.h"
#include "AppFixture.h"
#include "platform/files.h"

#include "cabinet/CabSTComps.h"
#include "platform/errors.h"

#include <QCryptographicHash>
#ifndef _WIN32
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#endif
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include "archive/ArchiveOperations.h"
#include "archive/DataFolderLock.h"

using namespace qv;
using namespace qv::test;

namespace {

class ArchiveFixture : public AppFixture {
protected:
    QString archive() const { return temp.file(QStringLiteral("archiwum.cab")); }
    QString company(const QString &katalog) const { return QDir(dataFolder()).filePath(katalog); }

    int rowOf(const QString &katalog) const
    {
        for (int r = 0; r < list().count(); ++r)
            if (Q(list().katalog(r)) == katalog)
                return r;
        return -1;
    }

    void mark(std::initializer_list<const char *> katalogs)
    {
        for (const char *k : katalogs) {
            grid().setCurrentRow(rowOf(QString::fromLatin1(k)));
            window->ToggleCurrent();
        }
    }

    TForm_Zawartosc *runCreate(MsgResult answer = MsgResult::Yes)
    {
        Form_Zawartosc.clear();
        ui.answers.clear();
        ui.answers.push_back(answer);
        window->act_Archiwizuj->setEnabled(true);  // as its command state says, when anything is marked
        window->act_ArchiwizujExecute();
        return Form_Zawartosc.data();
    }

    TForm_Zawartosc *runRestore(const QString &katalog)
    {
        Form_Zawartosc.clear();
        grid().setCurrentRow(rowOf(katalog));
        ui.answers.clear();
        ui.answers.push_back(MsgResult::Yes);
        ui.answers.push_back(MsgResult::Yes);
        window->act_RestoreExecute();
        return Form_Zawartosc.data();
    }

    QStringList topLevelFiles(const QString &katalog) const
    {
        QStringList names = QDir(company(katalog)).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (QString &n : names)
            n = katalog + QLatin1Char('\\') + n;
        names.sort();
        return names;
    }
};

QStringList placedNames(const QStringList &lines)
{
    QStringList names;
    static const QRegularExpression placed(QStringLiteral("^(\\S.*?) +(\\d+) byte\\(s\\)$"));
    for (const QString &line : lines) {
        const auto m = placed.match(line);
        if (m.hasMatch())
            names << m.captured(1);
    }
    names.sort();
    return names;
}

}  // namespace

TEST_F(ArchiveFixture, ThreeMarkedCompaniesWithTheSecondFolderMissing)
{
    startOnDemo(archive());
    mark({"PIEKARN", "LEG", "ZRODLO"});
    grid().setCurrentRow(7);
    TForm_Zawartosc *log = runCreate();
    ASSERT_NE(log, nullptr);

    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Q(ui.messages[0].text), QStringLiteral("Dokonać archiwizacji wybarnych firm ? [3 sztuk]"));
    EXPECT_EQ(Q(ui.messages[0].caption), QStringLiteral("Potwierdź ... "));
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::Question);
    EXPECT_EQ(ui.messages[0].defaultButton, MsgResult::Yes);
    EXPECT_EQ(log->windowTitle(), QStringLiteral("Zawartość archiwum archiwum.cab"));

    const QStringList lines = log->lines();
    const QStringList files = topLevelFiles(QStringLiteral("PIEKARN")) + topLevelFiles(QStringLiteral("ZRODLO"));
    ASSERT_EQ(lines.size(), 4 + files.size() + 3) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines.mid(0, 4), (QStringList{"-- Firma : Piekarnia \"Żytnia\" s.c. -- ",
                                            "-!- Brak katalogu LEG dla Firmy Hurtownia Łęg sp. z o.o. -!- ",
                                            "-- Firma : Gospodarstwo Źródło -- ", "*** dodaję - czekaj ... ***"}));
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{QStringLiteral("Archiwum sprawdzone: %1 plików").arg(files.size()), "***",
                           "--- Koniec operacji \"Archiwizowanie\" ---"}));
    // Top-level files only (the sub-folder ARCHIWUM stays out), hidden and empty ones included.
    EXPECT_EQ(placedNames(lines), [&] { QStringList s = files; s.sort(); return s; }());
    EXPECT_TRUE(files.contains(QStringLiteral("PIEKARN\\.ukryty")));
    const QString ksiega = QStringLiteral("PIEKARN\\KSIEGA.DBF");
    EXPECT_TRUE(lines.contains(QStringLiteral("%1 %2 byte(s)").arg(ksiega, -22).arg(
        QFileInfo(company(QStringLiteral("PIEKARN")) + QStringLiteral("/KSIEGA.DBF")).size(), 10)));

    // Archived companies are unmarked; the one without a folder stays marked.
    EXPECT_EQ(markText(rowOf(QStringLiteral("PIEKARN"))), QStringLiteral("Nie"));
    EXPECT_EQ(markText(rowOf(QStringLiteral("LEG"))), QStringLiteral("Tak"));
    EXPECT_EQ(markText(rowOf(QStringLiteral("ZRODLO"))), QStringLiteral("Nie"));
    EXPECT_EQ(window->markedCount(), 1);
    EXPECT_TRUE(window->act_Archiwizuj->isEnabled());
    for (QAction *a : {window->act_pokarz, window->act_Restore, window->act_FTP})
        EXPECT_TRUE(a->isEnabled());
    EXPECT_EQ(grid().currentRow(), 7);
    EXPECT_TRUE(log->bb_STOP->isHidden());
    EXPECT_TRUE(log->bb_close->isEnabled());
    EXPECT_TRUE(log->ProgressBar->isHidden());
}

TEST_F(ArchiveFixture, NothingMarkedOrQuestionDeclinedChangesNothing)
{
    startOnDemo(archive());
    runCreate();
    EXPECT_EQ(messageTexts(), QStringList{"Nie zaznaczono firm do \"Archiwizacji\""});
    EXPECT_EQ(Q(ui.messages[0].caption), Q(ApplicationTitle()));
    EXPECT_TRUE(window->act_Archiwizuj->isEnabled());
    EXPECT_EQ(Form_Zawartosc, nullptr);

    writeAll(archive(), "stare dane");
    mark({"FIRMA1"});
    EXPECT_EQ(runCreate(MsgResult::No), nullptr);
    const MessageRequest &q = ui.messages.back();
    EXPECT_EQ(Q(q.text), QStringLiteral("WYBRANY PLIK ARCHIWUM %1 JUŻ ISTNIEJE !\rCzy dokonać archiwizacji wybarnych firm "
                                     "[1 sztuk] w miejsce tego pliku\r(znajdujące się w nim dane ulegną usunięciu) ?")
                          .arg(archive()));
    EXPECT_EQ(Q(q.caption), QStringLiteral("Potwierdź nadpisanie ... "));
    EXPECT_EQ(q.defaultButton, MsgResult::No);
    EXPECT_EQ(readAll(archive()), QByteArray("stare dane"));
    EXPECT_EQ(window->markedCount(), 1);
    EXPECT_TRUE(window->act_Archiwizuj->isEnabled());
}

TEST_F(ArchiveFixture, GeneratedNameWhenTheFieldIsEmpty)
{
    startOnDemo();
    mark({"FIRMA1"});
    const LocalDateTime before = LocalNow();
    TForm_Zawartosc *log = runCreate();
    ASSERT_NE(log, nullptr);
    const QString name = window->ArchiveFileName();
    const QString expectedStart = QDir(dataFolder()).filePath(QStringLiteral("Arch"));
    EXPECT_TRUE(name.startsWith(expectedStart)) << name.toStdString();
    EXPECT_TRUE(U(name) == GeneratedArchiveName(U(dataFolder()), before) ||
                U(name) == GeneratedArchiveName(U(dataFolder()), LocalNow()));
    EXPECT_TRUE(QFileInfo(name).isFile());
    // A second run within the same minute asks the overwrite question.
    mark({"FIRMA1"});
    window->act_GenerujPlikExecute();
    runCreate(MsgResult::No);
    EXPECT_EQ(Q(ui.messages.back().caption), QStringLiteral("Potwierdź nadpisanie ... "));
}

TEST_F(ArchiveFixture, StopKeepsTheOldArchiveAndLeavesNoTemporaryFile)
{
    writeAll(archive(), "poprzednie archiwum");
    startOnDemo(archive());
    mark({"FIRMA1", "XFIRMA1", "PIEKARN"});
    ui.onProcessEvents = [] {
        if (Form_Zawartosc && Form_Zawartosc->lines().size() >= 2 && Form_Zawartosc->bb_STOP->isEnabled() &&
            Form_Zawartosc->bb_STOP->isVisible())
            Form_Zawartosc->bb_STOP->click();
    };
    TForm_Zawartosc *log = runCreate();
    ui.onProcessEvents = nullptr;
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(log->stopPressed());
    EXPECT_EQ(log->lines().mid(log->lines().size() - 2), (QStringList{"***", "Błąd dodawania danych !"}));
    EXPECT_EQ(readAll(archive()), QByteArray("poprzednie archiwum"));
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"archiwum.cab"});
    EXPECT_TRUE(log->bb_close->isEnabled());
}

TEST_F(ArchiveFixture, ClosingTheMainWindowDuringARunAsksStopsItAndThenCloses)
{
    writeAll(archive(), "poprzednie archiwum");
    startOnDemo(archive());
    mark({"FIRMA1", "XFIRMA1", "PIEKARN"});
    bool closed = false;
    QObject::connect(window.get(), &TForm_ArchimumLDG::closed, [&closed] { closed = true; });
    bool asked = false;
    ui.onProcessEvents = [&] {
        if (!asked && Form_Zawartosc && Form_Zawartosc->lines().size() >= 2) {
            asked = true;
            ui.answers.push_back(MsgResult::Yes);
            window->close();
            EXPECT_TRUE(window->isVisible()) << "the window waits for the stopped run";
        }
    };
    TForm_Zawartosc *log = runCreate();
    ui.onProcessEvents = nullptr;
    ASSERT_TRUE(asked);
    ASSERT_NE(log, nullptr);
    const MessageRequest &question = ui.messages.back();
    EXPECT_EQ(Q(question.text), QStringLiteral("Trwa operacja na archiwum.\rPrzerwać ją i zakończyć pracę z programem ?"));
    EXPECT_EQ(Q(question.caption), QStringLiteral("Potwierdź zakończenie pracy... "));
    EXPECT_EQ(question.icon, MsgIcon::Question);
    EXPECT_EQ(question.buttons, MsgButtons::YesNo);
    EXPECT_EQ(question.defaultButton, MsgResult::No);
    EXPECT_TRUE(log->stopPressed());
    EXPECT_EQ(log->lines().mid(log->lines().size() - 2), (QStringList{"***", "Błąd dodawania danych !"}));
    EXPECT_EQ(readAll(archive()), QByteArray("poprzednie archiwum"));
    EXPECT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ArchiveFixture, ClosingTheMainWindowDuringARunAndAnsweringNoLetsItFinish)
{
    startOnDemo(archive());
    mark({"FIRMA1"});
    bool asked = false;
    ui.onProcessEvents = [&] {
        if (!asked && Form_Zawartosc && Form_Zawartosc->lines().size() >= 2) {
            asked = true;
            ui.answers.push_back(MsgResult::No);
            window->close();
        }
    };
    TForm_Zawartosc *log = runCreate();
    ui.onProcessEvents = nullptr;
    ASSERT_TRUE(asked);
    EXPECT_FALSE(log->stopPressed());
    EXPECT_EQ(log->lines().back(), QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---"));
    settleEvents();
    EXPECT_TRUE(window->isVisible());
}

#ifndef _WIN32
// Permissions bind the superuser only once it has given up its rights.
class Unprivileged {
public:
    Unprivileged()
    {
        if (::geteuid() == 0)
            dropped_ = ::seteuid(65534) == 0;
    }
    ~Unprivileged()
    {
        if (dropped_)
            (void)::seteuid(0);
    }

private:
    bool dropped_ = false;
};

// One bad file stops the run; the log names it with the system's reason, and
// the old archive and every mark stay, so the user can mend it and retry.
struct BadFile {
    const char *what;
    int reason;  // OS error code whose text the log gives
};

void PrintTo(const BadFile &b, std::ostream *os) { *os << b.what; }

class BadFileFixture : public ArchiveFixture, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadFileFixture, NamesTheFileKeepsTheOldArchiveAndEveryMark)
{
    writeAll(archive(), "poprzednie archiwum");
    startOnDemo(archive());
    const QString bad = company(QStringLiteral("APTEKA")) + QStringLiteral("/KSIEGA.DBF");
    if (GetParam().reason == EACCES) {
        ASSERT_TRUE(QFile::setPermissions(bad, QFileDevice::Permissions()));
    } else {
        // Sparse, one byte over what a cabinet folder holds.
        ASSERT_TRUE(QFile::resize(bad, 0x7FFF8001LL));
    }
    ASSERT_TRUE(QFile::setPermissions(temp.path(), QFileDevice::Permissions(0x7777)));
    mark({"FIRMA1", "APTEKA", "ROZA"});
    TForm_Zawartosc *log = nullptr;
    {
        Unprivileged user;
        if (GetParam().reason == EACCES && ::faccessat(AT_FDCWD, bad.toLocal8Bit().constData(), R_OK, AT_EACCESS) == 0)
            GTEST_SKIP() << "the file stays readable to this user";
        log = runCreate(MsgResult::Yes);
    }
    ASSERT_NE(log, nullptr);
    const QStringList lines = log->lines();
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{QStringLiteral("-!- Błąd pliku %1: %2 -!- ")
                               .arg(QDir::toNativeSeparators(bad), QString::fromStdString(SysErrorMessage(GetParam().reason))),
                           "***", "Błąd dodawania danych !"}))
        << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(lines.contains(QStringLiteral("-- Firma : Kwiaciarnia Róża -- "))) << "no company after the failure";
    EXPECT_EQ(readAll(archive()), QByteArray("poprzednie archiwum"));
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"archiwum.cab"});
    for (const char *k : {"FIRMA1", "APTEKA", "ROZA"})
        EXPECT_EQ(markText(rowOf(QString::fromLatin1(k))), QStringLiteral("Tak")) << k;
    EXPECT_EQ(window->markedCount(), 3);
    EXPECT_TRUE(window->act_Archiwizuj->isEnabled());
    QFile::setPermissions(bad, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileFixture,
                         ::testing::Values(BadFile{"unreadable", EACCES}, BadFile{"too large", EFBIG}),
                         [](const ::testing::TestParamInfo<BadFile> &info) {
                             return info.param.reason == EACCES ? std::string("Unreadable") : std::string("TooLarge");
                         });

TEST_F(ArchiveFixture, AFifoAndALinkToNothingAreSkippedWithTheirLinesAndTheRunFinishes)
{
    const QString fifo = company(QStringLiteral("PIEKARN")) + QStringLiteral("/KOLEJKA");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0666), 0);
    const QString dangling = company(QStringLiteral("ZRODLO")) + QStringLiteral("/ZNIKNIETY.DBF");
    ASSERT_EQ(::symlink("/nie/ma/takiego/pliku", dangling.toLocal8Bit().constData()), 0);
    // Should opening the FIFO ever block again, a writer at the other end
    // frees every such open after a while: the test then fails instead of
    // hanging.
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        for (int i = 0; !finished; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const int fd = i >= 100 ? ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK) : -1;
            if (fd >= 0)
                ::close(fd);
        }
    });
    startOnDemo(archive());
    mark({"PIEKARN", "ZRODLO"});
    TForm_Zawartosc *log = runCreate();
    finished = true;
    watchdog.join();
    ASSERT_NE(log, nullptr);
    const QStringList lines = log->lines();
    const qsizetype company = lines.indexOf(QStringLiteral("-- Firma : Piekarnia \"Żytnia\" s.c. -- "));
    ASSERT_GE(company, 0) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines.value(company + 1),
              QStringLiteral("-!- Pominięto %1 (to nie jest zwykły plik) -!- ").arg(QDir::toNativeSeparators(fifo)));
    EXPECT_TRUE(lines.contains(QStringLiteral("-!- Pominięto %1 (dowiązanie do nieistniejącego pliku) -!- ")
                                   .arg(QDir::toNativeSeparators(dangling))))
        << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines.last(), QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---"));
    const QStringList files = topLevelFiles(QStringLiteral("PIEKARN")).filter(QRegularExpression("^(?!.*KOLEJKA)")) +
                              topLevelFiles(QStringLiteral("ZRODLO")).filter(QRegularExpression("^(?!.*ZNIKNIETY)"));
    EXPECT_EQ(placedNames(lines), [&] { QStringList s = files; s.sort(); return s; }());
    EXPECT_EQ(markText(rowOf(QStringLiteral("PIEKARN"))), QStringLiteral("Nie"));
    EXPECT_EQ(TSTCabReader().TestCabinet(archive().toStdString()).Files, static_cast<std::uint32_t>(files.size()));
}

TEST_F(ArchiveFixture, LeftoversOfKilledRunsGoAtTheNextStartAndCreateButNotThoseOfRunningOnes)
{
    const QString tmp = temp.file(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(tmp));
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp.toLocal8Bit());
    struct RestoreTmp {
        QByteArray value;
        ~RestoreTmp() { value.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", value); }
    } restoreTmp{oldTmp};

    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const pid_t running = ::fork();
    if (running == 0) {
        ::pause();
        ::_exit(0);
    }
    struct Reap {
        pid_t pid;
        ~Reap()
        {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reap{running};

    auto own = [](const QString &lead, pid_t pid) { return QStringLiteral("%1.qv%2-00C0FFEE.tmp").arg(lead).arg(pid); };
    const QStringList endedOnes = {QDir(tmp).filePath(own("stc", ended)),
                                   temp.file(own(QStringLiteral("~archiwum.cab"), ended))};
    const QStringList kept = {QDir(tmp).filePath(own("stc", running)),
                              temp.file(own(QStringLiteral("~archiwum.cab"), running)),
                              QDir(tmp).filePath(QStringLiteral("stc0A1B2C3D.tmp")),
                              temp.file(QStringLiteral("~archiwum.cab.tmp"))};
    for (const QString &f : endedOnes + kept)
        writeAll(f, "resztki");

    startOnDemo(archive());
    for (const QString &f : endedOnes)
        EXPECT_FALSE(QFileInfo::exists(f)) << "at the start: " << f.toStdString();
    for (const QString &f : kept)
        EXPECT_TRUE(QFileInfo::exists(f)) << f.toStdString();

    for (const QString &f : endedOnes)
        writeAll(f, "resztki");
    mark({"FIRMA1"});
    TForm_Zawartosc *log = runCreate();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->lines().last(), QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---"));
    for (const QString &f : endedOnes)
        EXPECT_FALSE(QFileInfo::exists(f)) << "at the create: " << f.toStdString();
    for (const QString &f : kept)
        EXPECT_TRUE(QFileInfo::exists(f)) << f.toStdString();
}

TEST_F(ArchiveFixture, AnArchiveThatFailsItsCheckNeverReplacesTheOldOne)
{
    startOnDemo(archive());
    mark({"FIRMA1"});
    runCreate();
    const QByteArray old = readAll(archive());
    ASSERT_FALSE(old.isEmpty());

    // The disk spoils the new cabinet between its writing and its check.
    QStringList spoiled;
    window->STCabWriter->OnCabinetStatus = [&](TSTCabWriter &, std::uint32_t, std::uint32_t, std::uint32_t &, bool &) {
        for (const QString &name : QDir(temp.path()).entryList({QStringLiteral("~archiwum.cab.qv*.tmp")}, QDir::Files | QDir::Hidden)) {
            QByteArray bytes = readAll(temp.file(name));
            bytes[bytes.size() - 5] = static_cast<char>(bytes[bytes.size() - 5] ^ 0xFF);
            writeAll(temp.file(name), bytes);
            spoiled << name;
        }
    };
    mark({"XFIRMA1", "CWIK"});
    TForm_Zawartosc *log = runCreate();
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(spoiled.size(), 1);
    const QStringList lines = log->lines();
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{"-!- Archiwum nie przeszło sprawdzenia: Cabinet file is corrupt [0x0004] -!- ", "***",
                           "Błąd dodawania danych !"}))
        << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(readAll(archive()), old);
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"archiwum.cab"});
    EXPECT_EQ(markText(rowOf(QStringLiteral("XFIRMA1"))), QStringLiteral("Tak"));
    EXPECT_EQ(markText(rowOf(QStringLiteral("CWIK"))), QStringLiteral("Tak"));
    EXPECT_EQ(window->markedCount(), 2);
    EXPECT_TRUE(window->act_FTP->isEnabled()) << "the old archive is still there";
}

TEST_F(ArchiveFixture, ARunWithNothingToAddChangesNothing)
{
    writeAll(archive(), "poprzednie archiwum");
    startOnDemo(archive());
    // Every top-level file of ROZA goes; its sub-folder is never archived anyway.
    for (const QString &n : QDir(company(QStringLiteral("ROZA"))).entryList(QDir::Files | QDir::Hidden))
        ASSERT_TRUE(QFile::remove(company(QStringLiteral("ROZA")) + QLatin1Char('/') + n));
    const QStringList failure = {"Brak plików do archiwizacji - archiwum nie zostało zmienione", "***",
                                 "Błąd dodawania danych !"};

    // Only a missing folder, over an old archive.
    mark({"LEG"});
    TForm_Zawartosc *log = runCreate();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->lines(), QStringList{"-!- Brak katalogu LEG dla Firmy Hurtownia Łęg sp. z o.o. -!- "} + failure);
    EXPECT_EQ(readAll(archive()), QByteArray("poprzednie archiwum"));
    EXPECT_TRUE(window->act_FTP->isEnabled());

    // A missing and an empty folder, where there was no archive.
    ASSERT_TRUE(QFile::remove(archive()));
    window->FN_cabExit();
    mark({"ROZA"});
    log = runCreate();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->lines().mid(log->lines().size() - 3), failure);
    EXPECT_FALSE(QFileInfo::exists(archive()));
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    for (QAction *a : {window->act_FTP, window->act_pokarz, window->act_Restore})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_EQ(markText(rowOf(QStringLiteral("LEG"))), QStringLiteral("Tak"));
    EXPECT_EQ(markText(rowOf(QStringLiteral("ROZA"))), QStringLiteral("Tak"));
    EXPECT_EQ(window->markedCount(), 2);
}
#endif

TEST_F(ArchiveFixture, ListingShowsEveryEntry)
{
    // One file stamped at exactly midnight, one with a long name.
    const QString midnight = company(QStringLiteral("ROZA")) + QStringLiteral("/PARAM.DAT");
    QFile m(midnight);
    ASSERT_TRUE(m.open(QIODevice::ReadWrite));
    ASSERT_TRUE(m.setFileTime(QDateTime(QDate(2005, 3, 3), QTime(0, 0)), QFileDevice::FileModificationTime));
    m.close();
    writeAll(company(QStringLiteral("ROZA")) + QStringLiteral("/ZESTAWIENIE_ROCZNE.TXT"), "123");
    startOnDemo(archive());
    mark({"ROZA"});
    runCreate();
    const int before = int(ui.messages.size());
    window->act_pokarzExecute();
    TForm_Zawartosc *log = Form_Zawartosc.data();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(int(ui.messages.size()), before);
    EXPECT_TRUE(log->isVisible());
    EXPECT_TRUE(log->bb_STOP->isHidden());
    const QStringList lines = log->lines();
    EXPECT_EQ(lines.size(), topLevelFiles(QStringLiteral("ROZA")).size());
    const QString day = QLocale::system().toString(QDate(2005, 3, 3), QLocale::ShortFormat);
    EXPECT_TRUE(lines.contains(QStringLiteral("%1 %2 byte(s) %3").arg(QStringLiteral("ROZA\\PARAM.DAT"), -20)
                                   .arg(QFileInfo(midnight).size(), 8).arg(day)))
        << lines.join(QLatin1Char('|')).toStdString();
    bool longNameFound = false;
    for (const QString &l : lines)
        longNameFound |= l.startsWith(QStringLiteral("ROZA\\ZESTAWIENIE_ROCZNE.TXT        3 byte(s) "));
    EXPECT_TRUE(longNameFound) << "a long name is written whole, the size column moves right";

    EXPECT_THROW(ListingLine(ui, "X", 1, (25 << 9) | (13 << 5) | 1, 0), std::exception);
    EXPECT_THROW(ListingLine(ui, "X", 1, (25 << 9) | (1 << 5) | 1, 24 << 11), std::exception);
    // A time of day is written after the date; seconds come in two-second steps.
    const QString afternoon = Q(ListingLine(ui, "X", 1, (25 << 9) | (1 << 5) | 1, (13 << 11) | (5 << 5) | 3));
    const QString day2005 = QLocale::system().toString(QDate(2005, 1, 1), QLocale::ShortFormat);
    EXPECT_TRUE(afternoon.startsWith(QStringLiteral("X                           1 byte(s) ") + day2005 + QLatin1Char(' ')))
        << afternoon.toStdString();
    const QString clock = afternoon.mid(afternoon.lastIndexOf(QLatin1Char(' ')) + 1);
    EXPECT_TRUE(clock.contains(QStringLiteral("05")) && clock.contains(QStringLiteral("06"))) << clock.toStdString();
    EXPECT_TRUE(Q(ListingLine(ui, "X", 1, (25 << 9) | (1 << 5) | 1, 0)).endsWith(day2005));
}

TEST_F(ArchiveFixture, ListingOfAMissingOrForeignFile)
{
    startOnDemo(temp.file(QStringLiteral("brak.cab")));
    window->act_pokarzExecute();
    EXPECT_EQ(messageTexts().value(0), QStringLiteral("Brak pliku archiwum %1 !").arg(temp.file(QStringLiteral("brak.cab"))));
    EXPECT_TRUE(window->act_pokarz->isEnabled());
    writeAll(archive(), "to nie jest archiwum");
    window->FN_cab->setText(archive());
    window->act_pokarzExecute();
    ASSERT_NE(Form_Zawartosc, nullptr);
    EXPECT_TRUE(Form_Zawartosc->lines().isEmpty());
    EXPECT_TRUE(Form_Zawartosc->isVisible());
}

TEST_F(ArchiveFixture, RestoreTakesOnlyTheCompanyAndNotItsNeighbour)
{
    startOnDemo(archive());
    mark({"FIRMA1", "XFIRMA1"});
    runCreate();
    const auto firma1 = snapshot(company(QStringLiteral("FIRMA1")));
    writeAll(company(QStringLiteral("FIRMA1")) + QStringLiteral("/KSIEGA.DBF"), "zepsute");
    writeAll(company(QStringLiteral("FIRMA1")) + QStringLiteral("/NOWY.TXT"), "zostaje");
    writeAll(company(QStringLiteral("XFIRMA1")) + QStringLiteral("/KSIEGA.DBF"), "sasiad");
    ui.messages.clear();
    ui.trail.clear();
    TForm_Zawartosc *log = runRestore(QStringLiteral("FIRMA1"));
    ASSERT_NE(log, nullptr);

    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(Q(ui.messages[0].text), QStringLiteral("Odtworzyć z archiwum archiwum.cab dane\rdla firmy Biuro Rachunkowe "
                                                  "Małgorzata w katalogu FIRMA1 ?"));
    EXPECT_EQ(Q(ui.messages[0].caption), QStringLiteral("Potwierdź odtworzenie... "));
    EXPECT_EQ(ui.messages[0].defaultButton, MsgResult::No);
    EXPECT_EQ(Q(ui.messages[1].text), QStringLiteral("Dla pewności potwierdź jeszcze jeden raz.\r\rNa pewno odtworzyć  "
                                                  "dane dla firmy Biuro Rachunkowe Małgorzata ?"));
    EXPECT_EQ(Q(ui.messages[1].caption), QStringLiteral("Potwierdź ostatecznie odtworzenie... "));
    ASSERT_GE(trail().size(), 3u);
    EXPECT_EQ(ui.trail[1], "beep");

    const QStringList lines = log->lines();
    const QStringList files = topLevelFiles(QStringLiteral("FIRMA1")).filter(QRegularExpression("^(?!.*NOWY)"));
    ASSERT_EQ(lines.size(), files.size() + 2) << lines.join(QLatin1Char('|')).toStdString();
    qint64 bytes = 0;
    for (auto it = firma1.begin(); it != firma1.end(); ++it)
        if (!it.key().contains(QLatin1Char('/')))
            bytes += it.value().size();
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral(" Kopiowanie/odtwarzanie z Archiwum zakończone. "));
    EXPECT_EQ(lines.last(), QStringLiteral(" %1 plików, łączna wielkości %2 bytes").arg(files.size()).arg(bytes));
    EXPECT_TRUE(lines.contains(QStringLiteral("%1 - %2 bajtów").arg(QStringLiteral("FIRMA1\\KSIEGA.DBF"), -20)
                                   .arg(firma1.value(QStringLiteral("KSIEGA.DBF")).size(), 10)));

    auto now = snapshot(company(QStringLiteral("FIRMA1")));
    EXPECT_EQ(now.take(QStringLiteral("NOWY.TXT")), QByteArray("zostaje"));
    EXPECT_EQ(now, firma1);
    EXPECT_EQ(readAll(company(QStringLiteral("XFIRMA1")) + QStringLiteral("/KSIEGA.DBF")), QByteArray("sasiad"));
    EXPECT_TRUE(QDir(dataFolder()).entryList(QStringList{".qv*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
}

TEST_F(ArchiveFixture, RestoreRecreatesADeletedFolderAndAFailureChangesNothing)
{
    startOnDemo(archive());
    window->act_add_allExecute();
    runCreate();
    const auto apteka = snapshot(company(QStringLiteral("APTEKA")));
    ASSERT_TRUE(QDir(company(QStringLiteral("APTEKA"))).removeRecursively());
    runRestore(QStringLiteral("APTEKA"));
    auto restored = snapshot(company(QStringLiteral("APTEKA")));
    for (auto it = apteka.begin(); it != apteka.end(); ++it) {
        if (!it.key().contains(QLatin1Char('/'))) {
            EXPECT_EQ(restored.value(it.key()), it.value()) << it.key().toStdString();
        }
    }

    // Damage the archive's last bytes: the restore fails part way through.
    QByteArray cab = readAll(archive());
    for (int i = 1; i <= 64; ++i)
        cab[cab.size() - i] = static_cast<char>(cab[cab.size() - i] ^ 0x5A);
    writeAll(archive(), cab);
    writeAll(company(QStringLiteral("FUNDACJA")) + QStringLiteral("/KSIEGA.DBF"), "po zmianach");
    const auto before = snapshot(company(QStringLiteral("FUNDACJA")));
    TForm_Zawartosc *log = runRestore(QStringLiteral("FUNDACJA"));
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->lines().last(), QStringLiteral(" *** Błąd wypakowania danych ! *** "));
    EXPECT_EQ(snapshot(company(QStringLiteral("FUNDACJA"))), before);
    EXPECT_TRUE(QDir(dataFolder()).entryList(QStringList{".qv*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
}

TEST_F(ArchiveFixture, RestoreWithAnEmptyListOrANonCabinet)
{
    const QString folder = temp.file(QStringLiteral("pusty"));
    QDir().mkpath(folder);
    writeAll(QDir(folder).filePath(QStringLiteral("SPISFIRM.DAT")), QByteArray());
    startOnDemo(archive());
    mark({"FIRMA1"});
    runCreate();
    window->DirectoryEdit_LDG->setText(folder);
    ASSERT_EQ(list().count(), 0);
    ui.messages.clear();
    TForm_Zawartosc *log = runRestore(QString());
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(Q(ui.messages[0].text), QStringLiteral("Odtworzyć z archiwum archiwum.cab dane\rdla firmy  w katalogu  ?"));
    EXPECT_EQ(log->lines(), QStringList{"*!* Nie odnaleziono danych wskazanej firmy w Archiwum *!*"});
    // Nothing but the data folder's lock file, which stays and means nothing while no one holds it.
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
              (QStringList{"SPISFIRM.DAT", QLatin1String(kDataFolderLockName)}));

    writeAll(archive(), "zwykly tekst");
    ui.messages.clear();
    EXPECT_EQ(runRestore(QString()), nullptr);
    EXPECT_EQ(Q(ui.messages.back().text), QStringLiteral("Plik \"%1\" nie jest plikiem typu .CAB").arg(archive()));
    EXPECT_TRUE(window->act_Restore->isEnabled());
}

TEST_F(ArchiveFixture, RoundTripOfEveryCompanyKeepsBytesDatesAndAttributes)
{
    const QString ro = company(QStringLiteral("NOWAK")) + QStringLiteral("/PARAM.DAT");
    ASSERT_TRUE(QFile::setPermissions(ro, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    startOnDemo(archive());
    window->act_add_allExecute();
    runCreate();
    struct Info {
        QByteArray bytes;
        QDateTime modified;
        std::uint32_t attrs;
    };
    QMap<QString, Info> before;
    for (int r = 0; r < list().count(); ++r) {
        const QString k = Q(list().katalog(r));
        for (const QString &n : QDir(company(k)).entryList(QDir::Files | QDir::Hidden)) {
            const QString p = company(k) + QLatin1Char('/') + n;
            before.insert(k + QLatin1Char('/') + n, {readAll(p), QFileInfo(p).lastModified(), FileGetAttributes(p.toStdString())});
        }
        QDir(company(k)).removeRecursively();
    }
    for (int r = 0; r < list().count(); ++r)
        runRestore(Q(list().katalog(r)));
    int compared = 0;
    for (auto it = before.begin(); it != before.end(); ++it, ++compared) {
        const QString p = QDir(dataFolder()).filePath(it.key());
        EXPECT_EQ(readAll(p), it->bytes) << it.key().toStdString();
        EXPECT_LE(std::abs(QFileInfo(p).lastModified().secsTo(it->modified)), 2) << it.key().toStdString();
        EXPECT_EQ(FileGetAttributes(p.toStdString()) & 0x27, it->attrs & 0x27) << it.key().toStdString();
    }
    EXPECT_GT(compared, 40);
    EXPECT_EQ(FileGetAttributes(ro.toStdString()) & 0x01, 0x01u);
}

TEST_F(ArchiveFixture, CabextractUnpacksTheProgramsArchiveByteExact)
{
    if (QStandardPaths::findExecutable(QStringLiteral("cabextract")).isEmpty())
        GTEST_SKIP() << "cabextract is not installed";
    startOnDemo(archive());
    mark({"FIRMA1", "CWIK"});
    runCreate();
    const QString out = temp.file(QStringLiteral("cabextract"));
    QDir().mkpath(out);
    QProcess p;
    p.start(QStringLiteral("cabextract"), {QStringLiteral("-q"), QStringLiteral("-d"), out, archive()});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    for (const char *k : {"FIRMA1", "CWIK"}) {
        auto expected = snapshot(company(QString::fromLatin1(k)));
        expected.remove(QStringLiteral("ARCHIWUM/KSIEGA04.DBF"));
        EXPECT_EQ(snapshot(QDir(out).filePath(QString::fromLatin1(k))), expected) << k;
    }
}

TEST_F(ArchiveFixture, FolderNamesThatWouldLeaveTheDataFolderAreNeverUsed)
{
    // A damaged register naming ".." and a path as company folders.
    auto companies = demo::DemoCompanies();
    companies.resize(2);
    companies.push_back({"Zła firma", "..", ""});
    companies.push_back({"Inna zła", "A/../B", ""});
    demo::WriteRegister(U(QDir(dataFolder()).filePath(QStringLiteral("SPISFIRM.DAT"))), companies,
                        demo::RegisterCodePage::CP852);
    startOnDemo(archive());
    window->act_add_allExecute();
    TForm_Zawartosc *log = runCreate();
    ASSERT_NE(log, nullptr);
    const QStringList lines = log->lines();
    EXPECT_TRUE(lines.contains(QStringLiteral("-!- Brak katalogu .. dla Firmy Zła firma -!- ")));
    EXPECT_TRUE(lines.contains(QStringLiteral("-!- Brak katalogu A/../B dla Firmy Inna zła -!- ")));
    EXPECT_EQ(lines.last(), QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---"));
    for (const QString &name : placedNames(lines)) {
        EXPECT_TRUE(name.startsWith(QStringLiteral("FIRMA1\\")) || name.startsWith(QStringLiteral("XFIRMA1\\")))
            << name.toStdString();
    }
    EXPECT_EQ(markText(2), QStringLiteral("Tak"));
    EXPECT_EQ(window->markedCount(), 2);

    const auto before = snapshot(temp.path());
    EXPECT_EQ(runRestore(QStringLiteral(".."))->lines(),
              QStringList{"*!* Nie odnaleziono danych wskazanej firmy w Archiwum *!*"});
    EXPECT_EQ(snapshot(temp.path()), before);
}

TEST_F(ArchiveFixture, ProgressBarFollowsTheBytesAndIsGoneAtTheEnd)
{
    // A company big enough for several progress reports.
    QByteArray big(3 * 1024 * 1024, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 24);
    writeAll(company(QStringLiteral("DAB")) + QStringLiteral("/DUZY.DBF"), big);
    startOnDemo(archive());
    mark({"DAB"});
    QList<int> seen;
    ui.onProcessEvents = [&] {
        if (Form_Zawartosc && !Form_Zawartosc->ProgressBar->isHidden())
            seen << Form_Zawartosc->ProgressBar->value();
    };
    TForm_Zawartosc *log = runCreate();
    ASSERT_NE(log, nullptr);
    ASSERT_GE(seen.size(), 3);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen.last(), seen.first());
    EXPECT_LE(seen.last(), 1000);
    EXPECT_TRUE(log->ProgressBar->isHidden());

    QFile::remove(company(QStringLiteral("DAB")) + QStringLiteral("/DUZY.DBF"));
    seen.clear();
    log = runRestore(QStringLiteral("DAB"));
    ui.onProcessEvents = nullptr;
    EXPECT_FALSE(seen.isEmpty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.last(), 1000);
    EXPECT_EQ(readAll(company(QStringLiteral("DAB")) + QStringLiteral("/DUZY.DBF")), big);
}
