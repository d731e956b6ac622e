// A restore of a company with 10,000 files killed with SIGKILL at every
// point of its commit; then the program starts again on the same data
// folder. The company folder must end wholly old or wholly new, the user must
// be told which, and no staging folder may remain. The restore runs in a
// forked child (the real commit, stopped by its test seam), so the kill is a
// real one; POSIX only. Also: the next restore settles an interrupted one
// first, and a damaged staging folder is reported and left as it is.
#include "QtFiles.h"
#include "../cabinet/comp_rawcab.h"
#include "AppFixture.h"
#include "archive/StagedRestore.h"
#include "platform/files.h"

#include <QDirIterator>
#include <QFile>
#include <cctype>
#include <optional>

#ifndef _WIN32
#include <csignal>
#include <fstream>
#include <map>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qv;
using namespace qv::test;

#ifndef _WIN32

namespace {

constexpr int kCompanyFiles = 10000;

std::string fileName(int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "K%05d.DBF", i);
    return name;
}

// Where the child is killed: the n-th time the commit reaches `point`, or,
// without a point, half way through the extraction.
struct KillAt {
    const char *label;
    std::optional<CommitPoint> point;
    std::size_t nth = 1;
    bool endsNew = true;
};

void PrintTo(const KillAt &k, std::ostream *os) { *os << k.label; }

class RestoreCrash : public AppFixture, public ::testing::WithParamInterface<KillAt> {
protected:
    std::string root_;
    QString folder_;

    // A kill leaves the system's caches in place, so the kind of file system
    // does not change what is checked here; in memory, the 10,000-file runs
    // do not wait on a shared disk.
    void SetUp() override
    {
        AppFixture::SetUp();
        std::string tmpl = (::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm/") : TempDirectory()) +
                           "qvrestorecrash.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        folder_ = QString::fromStdString(root_ + "/LDG_2005");
        demo::WriteDemoDataFolder(U(folder_), demo::RegisterCodePage::Mazovia);
    }

    void TearDown() override
    {
        AppFixture::TearDown();
        DirectoryDeleteTree(root_);
    }

    QString company() const { return QDir(folder_).filePath(QStringLiteral("FIRMA1")); }

    QStringList stagingFolders() const
    {
        return QDir(folder_).entryList({QStringLiteral(".qvodtworz-*")}, QDir::AllEntries | QDir::Hidden);
    }

    // The restore as far as the kill: extraction into the staging folder,
    // then the commit. Runs in the child; plain C++ only.
    [[noreturn]] static void restoreAndDie(const std::string &dataFolder, const KillAt &kill)
    {
        try {
            StagedRestore staging(dataFolder, "FIRMA1");
            for (int i = 0; i <= kCompanyFiles; ++i) {
                if (!kill.point && i == kCompanyFiles / 2)
                    ::raise(SIGKILL);
                const std::string name = i == kCompanyFiles ? std::string("NOWY.TXT") : fileName(i);
                std::ofstream(staging.stagedPath(name), std::ios::binary) << "nowy " << i;
            }
            std::map<CommitPoint, std::size_t> reached;
            staging.onCommitPoint = [&](CommitPoint point, std::size_t) {
                if (point == kill.point && ++reached[point] == kill.nth)
                    ::raise(SIGKILL);
            };
            staging.commit();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(2);  // the commit ended without reaching the kill point
    }
};

}  // namespace

TEST_P(RestoreCrash, NextStartLeavesTheCompanyWhollyOldOrWhollyNewAndSaysWhich)
{
    const KillAt kill = GetParam();
    for (int i = 0; i < kCompanyFiles; ++i) {
        QFile f(QDir(company()).filePath(QString::fromStdString(fileName(i))));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("stary " + QByteArray::number(i));
    }
    const auto before = snapshot(company());
    auto after = before;
    for (int i = 0; i < kCompanyFiles; ++i)
        after[QString::fromStdString(fileName(i))] = "nowy " + QByteArray::number(i);
    after[QStringLiteral("NOWY.TXT")] = "nowy " + QByteArray::number(kCompanyFiles);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        restoreAndDie(folder_.toStdString(), kill);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the child was not killed where planned; exit status " << WEXITSTATUS(status);
    ASSERT_EQ(stagingFolders().size(), 1) << "the killed restore left its staging folder";

    start(folder_);

    const QString interrupted =
        QStringLiteral("Odtwarzanie danych firmy w katalogu %1 zostało przerwane.\r").arg(company());
    ASSERT_EQ(ui.messages.size(), 1u) << messageTexts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(Q(ui.messages[0].text),
              interrupted + (kill.endsNew ? QStringLiteral("Dokończono je: katalog zawiera dane z archiwum.")
                                          : QStringLiteral("Cofnięto je: katalog zawiera dane sprzed odtwarzania.")));
    EXPECT_EQ(Q(ui.messages[0].caption), Q(ApplicationTitle()));
    EXPECT_EQ(ui.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::None);
    const auto now = snapshot(company());
    EXPECT_TRUE(now == (kill.endsNew ? after : before)) << "the company folder is mixed";
    EXPECT_TRUE(stagingFolders().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryPointOfTheCommit, RestoreCrash,
    ::testing::Values(KillAt{"during the extraction", std::nullopt, 1, false},
                      KillAt{"before the journal", CommitPoint::Flushed, 1, false},
                      KillAt{"after the journal", CommitPoint::JournalWritten},
                      KillAt{"first older file aside, its new one not in", CommitPoint::KeptAside, 1},
                      KillAt{"after the first move", CommitPoint::Placed, 1},
                      KillAt{"after 2 moves", CommitPoint::Placed, 2},
                      KillAt{"older file aside half way", CommitPoint::KeptAside, 5000},
                      KillAt{"after 5000 moves", CommitPoint::Placed, 5000},
                      KillAt{"after 9999 moves", CommitPoint::Placed, 9999},
                      KillAt{"after every move", CommitPoint::Placed, kCompanyFiles + 1},
                      KillAt{"before the journal is marked done", CommitPoint::AllPlaced},
                      KillAt{"after the journal is marked done", CommitPoint::MarkedDone},
                      KillAt{"while the staging folder is removed", CommitPoint::Emptied}),
    [](const ::testing::TestParamInfo<KillAt> &info) {
        std::string name;
        for (const char *c = info.param.label; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

namespace {

class RestoreRecovery : public AppFixture {
protected:
    QString company(const QString &katalog) const { return QDir(dataFolder()).filePath(katalog); }

    // Where a killed restore of FIRMA1 left its staging folder: journal
    // written, nothing moved yet.
    void killRestoreOfFirma1AfterTheJournal()
    {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                StagedRestore staging(dataFolder().toStdString(), "FIRMA1");
                std::ofstream(staging.stagedPath("KSIEGA.DBF"), std::ios::binary) << "z przerwanego";
                staging.onCommitPoint = [](CommitPoint point, std::size_t) {
                    if (point == CommitPoint::JournalWritten)
                        ::raise(SIGKILL);
                };
                staging.commit();
            } catch (...) {
            }
            ::_exit(2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
    }
};

}  // namespace

TEST_F(RestoreRecovery, TheNextRestoreSettlesAnInterruptedOneFirst)
{
    const QString archive = temp.file(QStringLiteral("x.cab"));
    const std::string bytes = cabtest::buildRawCabinet({{"XFIRMA1\\KSIEGA.DBF", "z archiwum"}});
    QFile cab(archive);
    ASSERT_TRUE(cab.open(QIODevice::WriteOnly));
    cab.write(bytes.data(), static_cast<qint64>(bytes.size()));
    cab.close();
    startOnDemo(archive);
    killRestoreOfFirma1AfterTheJournal();
    for (int r = 0; r < list().count(); ++r)
        if (Q(list().katalog(r)) == QStringLiteral("XFIRMA1"))
            grid().setCurrentRow(r);
    ui.answers = {MsgResult::Yes, MsgResult::Yes};
    Form_Zawartosc.clear();
    window->act_RestoreExecute();

    const QStringList texts = messageTexts();
    ASSERT_EQ(texts.size(), 3) << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(texts[2], QStringLiteral("Odtwarzanie danych firmy w katalogu %1 zostało przerwane.\r"
                                       "Dokończono je: katalog zawiera dane z archiwum.")
                            .arg(company(QStringLiteral("FIRMA1"))));
    EXPECT_EQ(readAll(company(QStringLiteral("FIRMA1")) + QStringLiteral("/KSIEGA.DBF")), "z przerwanego");
    EXPECT_EQ(readAll(company(QStringLiteral("XFIRMA1")) + QStringLiteral("/KSIEGA.DBF")), "z archiwum");
    ASSERT_TRUE(Form_Zawartosc);
    EXPECT_EQ(Form_Zawartosc->lines().last(), QStringLiteral(" 1 plików, łączna wielkości 10 bytes"));
    EXPECT_TRUE(QDir(dataFolder()).entryList({QStringLiteral(".qvodtworz-*")}, QDir::AllEntries | QDir::Hidden)
                    .isEmpty());
}

TEST_F(RestoreRecovery, ADamagedJournalIsReportedAtStartAndNothingChanges)
{
    killRestoreOfFirma1AfterTheJournal();
    const QStringList staging =
        QDir(dataFolder()).entryList({QStringLiteral(".qvodtworz-*")}, QDir::AllEntries | QDir::Hidden);
    ASSERT_EQ(staging.size(), 1);
    const QString stagingFolder = QDir(dataFolder()).filePath(staging[0]);
    QFile journal(stagingFolder + QStringLiteral("/dziennik"));
    ASSERT_TRUE(journal.open(QIODevice::ReadWrite));
    journal.seek(60);
    journal.write("uszkodzony");
    journal.close();
    const auto companyBefore = snapshot(company(QStringLiteral("FIRMA1")));
    const auto stagingBefore = snapshot(stagingFolder);

    startOnDemo();

    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Q(ui.messages[0].text),
              QStringLiteral("Przerwane odtwarzanie danych pozostawiło katalog %1 z uszkodzonym dziennikiem.\r"
                             "Niczego nie zmieniono: sprawdź dane firm, zanim usuniesz ten katalog.")
                  .arg(stagingFolder));
    EXPECT_EQ(snapshot(company(QStringLiteral("FIRMA1"))), companyBefore);
    EXPECT_EQ(snapshot(stagingFolder), stagingBefore);
}

#endif
