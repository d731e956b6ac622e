#include "AppFixture.h"
#include "settings/formstorage.h"
#include "settings/inifile.h"

#include <QDir>
#include <QFile>

using namespace qv;
using namespace qv::test;

TEST_F(AppFixture, StoredFieldsAreRestoredAtFirstShowAndTheListFollows)
{
    const QString archive = temp.file(QStringLiteral("ARCH.cab"));
    QFile(archive).open(QIODevice::WriteOnly);
    IniFile ini(settingsFile());
    ini.WriteString(QStringLiteral("Main"), QStringLiteral("FN_cab_Text"), QStringLiteral("  ") + archive);
    ini.WriteString(QStringLiteral("Main"), QStringLiteral("DirectoryEdit_LDG_Text"), dataFolder());
    start(QString());
    EXPECT_EQ(window->FN_cab->text(), archive);
    EXPECT_EQ(window->DataFolder(), dataFolder());
    EXPECT_EQ(list().count(), 12);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(window->act_pokarz->isEnabled());
    EXPECT_EQ(window->FormStorage_Main->StoredValues.Find(QStringLiteral("host"))->Value.toString(),
              QStringLiteral("ftp.example.com"));
}

TEST_F(AppFixture, ClosingTheMainWindowSavesItsFieldsAndPlacement)
{
    startOnDemo(QStringLiteral("\"/tmp/z b.cab\""));
    window->close();
    IniFile ini(settingsFile());
    EXPECT_EQ(ini.ReadString(QStringLiteral("Main"), QStringLiteral("DirectoryEdit_LDG_Text"), QString()), dataFolder());
    // Quoted on write, so the reader's quote removal gives the text back whole.
    EXPECT_EQ(ini.ReadString(QStringLiteral("Main"), QStringLiteral("FN_cab_Text"), QString()),
              QStringLiteral("\"/tmp/z b.cab\""));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Main"), QStringLiteral("Visible"), QString()), QStringLiteral("0"));
    EXPECT_FALSE(ini.ReadString(QStringLiteral("Main"), QStringLiteral("NormPos"), QString()).isEmpty());
    EXPECT_EQ(ini.ReadString(QStringLiteral("Main"), QStringLiteral("un"), QString()), QStringLiteral("031b"));  // q^r, v^m
}

TEST_F(AppFixture, LogWindowPlacementIsKeptInItsOwnSection)
{
    startOnDemo();
    auto *log = static_cast<TForm_Zawartosc *>(ui.openLogWindow());
    log->showModeless();
    log->setGeometry(100, 120, 600, 300);
    log->close();
    IniFile ini(settingsFile());
    EXPECT_EQ(ini.ReadString(QStringLiteral("Okno_Statusu"), QStringLiteral("NormPos"), QString()),
              QStringLiteral("100,120,700,420"));
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
    SetDefaultSettingsFileName(QDir(blocker).filePath(QStringLiteral("qvarchiwizator.INI")));
    startOnDemo();
    window->close();
    window.reset();
    int reports = 0;
    for (const MessageRequest &m : ui.messages)
        reports += m.text.startsWith(QStringLiteral("Nie można zapisać pliku ustawień ")) ? 1 : 0;
    EXPECT_EQ(reports, 1);
}
