// The window and a command-line run on the same data folder: while another
// process holds the folder, "Twórz archiwum" and "Odtwórz z archiwum ..." tell
// the user and do nothing; once it is free they run as ever.
#include "AppFixture.h"
#include "archive/DataFolderLock.h"
#include "platform/filelock.h"

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
    QString busyText() const { return DataFolderBusyMessage(dataFolder()); }
    void selectRow(const QString &katalog)
    {
        for (int row = 0; row < list().count(); ++row)
            if (list().katalog(row) == katalog)
                grid().setCurrentRow(row);
    }
};

}  // namespace

TEST_F(BusyFixture, CreateAsksThenSaysTheFolderIsBusyAndChangesNothing)
{
    startOnDemo(archive());
    selectRow(QStringLiteral("FIRMA1"));
    window->ToggleCurrent();
    hold();
    Form_Zawartosc.clear();
    ui.answers.push_back(MsgResult::Yes);
    window->act_ArchiwizujExecute();
    EXPECT_EQ(ui.messageTexts(), (QStringList{"Dokonać archiwizacji wybarnych firm ? [1 sztuk]", busyText()}));
    EXPECT_EQ(ui.messages.back().caption, ApplicationTitle());
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
    EXPECT_EQ(ui.messageTexts(), QStringList{busyText()});
    EXPECT_EQ(Form_Zawartosc, nullptr);
    EXPECT_EQ(ui.beeps, 0);
    EXPECT_EQ(QFileInfo(book).size(), 9);
    EXPECT_TRUE(window->act_Restore->isEnabled());
}
