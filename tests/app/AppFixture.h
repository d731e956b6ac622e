// Drives the real main window headless, on demo data, with a scripted answerer.
#pragma once

#include "DemoData.h"
#include "ScriptedInteraction.h"
#include "TempDir.h"
#include "app/AppInteraction.h"
#include "app/CompanyListModel.h"
#include "app/EditFields.h"
#include "app/TDBGridLista.h"
#include "app/TForm_ArchimumLDG.h"
#include "app/TForm_Zawartosc.h"
#include "register/CompanyList.h"
#include "settings/settingsfile.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <gtest/gtest.h>
#include <memory>

namespace qv::test {

// The scripted answerer with the window's own regional formats.
class AppScriptedInteraction : public ScriptedInteraction {
public:
    std::string regionalDate(int year, int month, int day) override { return QtRegionalDate(year, month, day); }
    std::string regionalTime(int hour, int minute, int second) override
    {
        return QtRegionalTime(hour, minute, second);
    }
};

// Runs the event loop until done() holds or limitMs have passed; says
// whether it holds. A test waits for what it expects, never a fixed time.
template <class F>
bool waitUntil(F done, int limitMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() >= limitMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs what is already posted (zero-time timers, deferred closes, repaints),
// for checks that something did not happen.
inline void settleEvents()
{
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

class AppFixture : public ::testing::Test {
protected:
    TempDir temp;
    AppScriptedInteraction ui;
    std::unique_ptr<TForm_ArchimumLDG> window;

    QString dataFolder() const { return temp.file(QStringLiteral("LDG_2005")); }

    QString settingsFile() const { return temp.file(QStringLiteral("qvarchiwizator.INI")); }

    void SetUp() override
    {
        SetDefaultSettingsFileName(U(settingsFile()));
        ui.logWindowFactory = [] { return OpenLogWindow(); };
        ui.windowSystemEvents = [] { QCoreApplication::processEvents(); };
        demo::WriteDemoDataFolder(U(dataFolder()), demo::RegisterCodePage::Mazovia);
    }

    void TearDown() override
    {
        window.reset();
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<TForm_Zawartosc *>(w))
                delete w;
    }

    // Creates the window; `folder` stands for what the settings restore.
    void start(const QString &folder, const QString &archiveText = QString())
    {
        window = std::make_unique<TForm_ArchimumLDG>(ui);
        window->FN_cab->setText(archiveText);
        if (!folder.isEmpty())
            window->DirectoryEdit_LDG->setText(folder);
        window->show();
        ASSERT_TRUE(waitUntil([this] { return !window->firstActivation(); }));
    }

    void startOnDemo(const QString &archiveText = QString()) { start(dataFolder(), archiveText); }

    TCompanyList &list() const { return *window->RxMD_Spis(); }
    // The list as the grid shows it.
    CompanyListModel &model() const { return *window->companyModel(); }
    TDBGridLista &grid() const { return *window->DBGridLista; }
    QString markText(int row) const
    {
        return model().data(model().index(row, TCompanyList::colArchiwizuj), Qt::DisplayRole).toString();
    }
    // The answerer's record of events, as Qt texts.
    QStringList trail() const
    {
        QStringList events;
        for (const std::string &e : ui.trail)
            events << Q(e);
        return events;
    }
    // What the answerer was shown, as Qt texts.
    QStringList messageTexts() const
    {
        QStringList texts;
        for (const std::string &t : ui.messageTexts())
            texts << Q(t);
        return texts;
    }

    void key(int keyCode, const QString &text, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, keyCode, mods, text);
        QCoreApplication::sendEvent(&grid(), &press);
        QKeyEvent release(QEvent::KeyRelease, keyCode, mods, text);
        QCoreApplication::sendEvent(&grid(), &release);
    }
};

}  // namespace qv::test
