#include "AppFixture.h"
#include "app/FormStorage.h"
#include "settings/inifile.h"

#include <QDir>
#include <QFile>

using namespace qv;
using namespace qv::test;

TEST_F(AppFixture, StoredFieldsAreRestoredAtFirstShowAndTheListFollows)
{
    const QString archive = temp.file(QStringLiteral("ARCH.cab"));
    QFile(archive).open(QIODevice::WriteOnly);
    IniFile ini(U(settingsFile()));
    ini.WriteString("Main", "FN_cab_Text", "  " + U(archive));
    ini.WriteString("Main", "DirectoryEdit_LDG_Text", U(dataFolder()));
    start(QString());
    EXPECT_EQ(window->FN_cab->text(), archive);
    EXPECT_EQ(window->DataFolder(), dataFolder());
    EXPECT_EQ(list().count(), 12);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(window->act_pokarz->isEnabled());
    EXPECT_EQ(window->FormStorage_Main->StoredValues.Find("host")->Value, "ftp.example.com");
}

TEST_F(AppFixture, ClosingTheMainWindowSavesItsFieldsAndPlacement)
{
    startOnDemo(QStringLiteral("\"/tmp/z b.cab\""));
    window->close();
    IniFile ini(U(settingsFile()));
    EXPECT_EQ(ini.ReadString("Main", "DirectoryEdit_LDG_Text", ""), U(dataFolder()));
    // Quoted on write, so the reader's quote removal gives the text back whole.
    EXPECT_EQ(ini.ReadString("Main", "FN_cab_Text", ""), "\"/tmp/z b.cab\"");
    EXPECT_EQ(ini.ReadString("Main", "Visible", ""), "0");
    EXPECT_FALSE(ini.ReadString("Main", "NormPos", "").empty());
    EXPECT_EQ(ini.ReadString("Main", "un", ""), "031b");  // q^r, v^m
}

TEST_F(AppFixture, LogWindowPlacementIsKeptInItsOwnSection)
{
    startOnDemo();
    auto *log = static_cast<TForm_Zawartosc *>(ui.openLogWindow());
    log->showModeless();
    log->setGeometry(100, 120, 600, 300);
    log->close();
    IniFile ini(U(settingsFile()));
    EXPECT_EQ(ini.ReadString("Okno_Statusu", "NormPos", ""), "100,120,700,420");
    auto *next = static_cast<TForm_Zawartosc *>(ui.openLogWindow());
    next->showModeless();
    EXPECT_EQ(next->geometry(), QRect(100, 120, 600, 300));
    next->close();
}

TEST_F(AppFixture, AnUnwritableSettingsFileIsReportedOnceWhenTheProgramEnds)
{
    const QString blocker = temp.file(QStringLiteral("blocker"));
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    SetDefaultSettingsFileName(U(QDir(blocker).filePath(QStringLiteral("qvarchiwizator.INI"))));
    startOnDemo();
    window->close();
    window.reset();
    int reports = 0;
    for (const MessageRequest &m : ui.messages)
        reports += m.text.rfind("Nie można zapisać pliku ustawień ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(reports, 1);
}
