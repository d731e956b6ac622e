// The window and a command-line run on the same data folder: while another
// process holds the folder, "Twórz archiwum" and "Odtwórz z archiwum ..." tell
// the user and do nothing, and the list load settles nothing; once it is free
// they run as ever.
#include "AppFixture.h"
#include "CoreTest.h"
#include "QtFiles.h"
#include "archive/DataFolderLock.h"
#include "archive/RestoreJournal.h"
#include "platform/filelock.h"
#include "platform/process.h"

#include <QFile>

using namespace qv;
using namespace qv::test;

namespace {

class BusyFixture : public AppFixture {
protected:
    FileHandle held = InvalidFileHandle;

    void hold()
    {
        held = OpenLockFile(QDir(dataFolder()).filePath(QLatin1String(kDataFolderLockName)).toStdString());
        ASSERT_EQ(TryLockFile(held), FileLockResult::Locked);
    }
    void release()
    {
        FileClose(held);
        held = InvalidFileHandle;
    }
    void TearDown() override
    {
        if (held != InvalidFileHandle)
            release();
        AppFixture::TearDown();
    }
    QString archive() const { return temp.file(QStringLiteral("archiwum.cab")); }
    QString busyText() const { return Q(DataFolderBusyMessage(U(dataFolder()))); }
    void selectRow(const QString &katalog)
    {
        for (int row = 0; row < list().count(); ++row)
            if (Q(list().katalog(row)) == katalog)
                grid().setCurrentRow(row);
    }
};

}  // namespace

TEST_F(BusyFixture, CreateSaysTheFolderIsBusyBeforeAskingAndChangesNothing)
{
    startOnDemo(archive());
    selectRow(QStringLiteral("FIRMA1"));
    window->ToggleCurrent();
    hold();
    Form_Zawartosc.clear();
    window->act_ArchiwizujExecute();
    EXPECT_EQ(messageTexts(), QStringList{busyText()}) << "no question answered for nothing";
    EXPECT_EQ(Q(ui.messages.back().caption), Q(ApplicationTitle()));
    EXPECT_EQ(ui.messages.back().buttons, MsgButtons::Ok);
    EXPECT_EQ(Form_Zawartosc, nullptr) << "no log window, no run";
    EXPECT_FALSE(QFileInfo::exists(archive()));
    EXPECT_EQ(window->markedCount(), 1);
    EXPECT_TRUE(window->act_Archiwizuj->isEnabled());

    release();
    ui.messages.clear();
    ui.answers.push_back(MsgResult::Yes);
    window->act_ArchiwizujExecute();
    ASSERT_NE(Form_Zawartosc, nullptr);
    EXPECT_EQ(Form_Zawartosc->lines().last(), QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---"));
    EXPECT_TRUE(QFileInfo::exists(archive()));
}

// What a restore killed half way leaves, as its journal records it. The
// process number in the staging folder's name proves nothing: it is our own
// in a container, where every run is process 1, and one that looks ended may
// belong to a restore another machine runs on a shared folder right now.
struct LeftBy {
    const char *who;
    std::uint32_t pid;
};

void PrintTo(const LeftBy &l, std::ostream *os) { *os << l.who; }

class InterruptedRestore : public BusyFixture, public ::testing::WithParamInterface<LeftBy> {};

TEST_P(InterruptedRestore, IsSettledOnlyByWhoeverHoldsTheLockAndBeforeItIsArchived)
{
    RestoreJournal journal;
    journal.company = "FIRMA1";
    journal.stage = RestoreJournal::Stage::Moving;
    journal.moves = {{"KSIEGA.DBF", true}, {"NOWY.DBF", false}};
    const QString staging = QDir(dataFolder()).filePath(QStringLiteral(".qvodtworz-%1-X").arg(GetParam().pid));
    const QString company = QDir(dataFolder()).filePath(QStringLiteral("FIRMA1"));
    writeAll(staging + QStringLiteral("/dziennik"), QByteArray::fromStdString(FormatRestoreJournal(journal)));
    writeAll(staging + QStringLiteral("/nowe/NOWY.DBF"), "z archiwum");
    writeAll(staging + QStringLiteral("/zastapione/KSIEGA.DBF"), readAll(company + QStringLiteral("/KSIEGA.DBF")));
    writeAll(company + QStringLiteral("/KSIEGA.DBF"), "z archiwum, już na miejscu");

    // Another process holds the folder: the list loads, nothing is touched.
    hold();
    const auto before = snapshot(dataFolder());
    startOnDemo(archive());
    EXPECT_EQ(list().count(), 12);
    EXPECT_TRUE(ui.messages.empty()) << messageTexts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(snapshot(dataFolder()) == before);
    release();

    // The next operation to get the lock settles it first, so what it
    // archives is the company wholly restored.
    selectRow(QStringLiteral("FIRMA1"));
    window->ToggleCurrent();
    ui.answers.push_back(MsgResult::Yes);
    window->act_ArchiwizujExecute();
    ASSERT_EQ(messageTexts().size(), 2);
    EXPECT_EQ(messageTexts()[1], QStringLiteral("Odtwarzanie danych firmy w katalogu %1 zostało przerwane.\r"
                                                   "Dokończono je: katalog zawiera dane z archiwum.")
                                        .arg(company));
    EXPECT_FALSE(QFileInfo::exists(staging));
    EXPECT_EQ(readAll(company + QStringLiteral("/NOWY.DBF")), "z archiwum");
    EXPECT_EQ(readAll(company + QStringLiteral("/KSIEGA.DBF")), "z archiwum, już na miejscu");
    ASSERT_NE(Form_Zawartosc, nullptr);
    const QStringList lines = Form_Zawartosc->lines();
    for (const char *name : {"FIRMA1\\NOWY.DBF", "FIRMA1\\KSIEGA.DBF"})
        EXPECT_EQ(lines.filter(QLatin1String(name)).size(), 1) << name << " in the archive";
}

INSTANTIATE_TEST_SUITE_P(StagingFolders, InterruptedRestore,
                         ::testing::Values(LeftBy{"ThisProcessNumber", CurrentProcessId()},
                                           LeftBy{"AnEndedProcessNumber", test::EndedProcessId()}),
                         [](const ::testing::TestParamInfo<LeftBy> &info) { return std::string(info.param.who); });

TEST_F(BusyFixture, RestoreSaysTheFolderIsBusyBeforeAnyQuestion)
{
    startOnDemo(archive());
    selectRow(QStringLiteral("FIRMA1"));
    window->ToggleCurrent();
    ui.answers.push_back(MsgResult::Yes);
    window->act_ArchiwizujExecute();
    ASSERT_TRUE(QFileInfo::exists(archive()));

    const QString book = QDir(dataFolder()).filePath(QStringLiteral("FIRMA1/KSIEGA.DBF"));
    QFile f(book);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("zmienione");
    f.close();
    hold();
    ui.messages.clear();
    Form_Zawartosc.clear();
    window->act_RestoreExecute();
    EXPECT_EQ(messageTexts(), QStringList{busyText()});
    EXPECT_EQ(Form_Zawartosc, nullptr);
    EXPECT_EQ(ui.beeps, 0);
    EXPECT_EQ(QFileInfo(book).size(), 9);
    EXPECT_TRUE(window->act_Restore->isEnabled());
}
