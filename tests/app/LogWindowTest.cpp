#include "AppFixture.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

using namespace qv;
using namespace qv::test;

TEST(LogWindow, NewWindowStateAndCaption)
{
    LogWindow *log = OpenLogWindow();
    QPointer<TForm_Zawartosc> w = static_cast<TForm_Zawartosc *>(log);
    EXPECT_EQ(Form_Zawartosc, w);
    EXPECT_FALSE(w->stopPressed());
    EXPECT_TRUE(w->bb_STOP->isHidden());
    EXPECT_TRUE(w->bb_STOP->isEnabled());
    EXPECT_TRUE(w->bb_close->isEnabled());
    EXPECT_EQ(w->bb_close->text(), QStringLiteral("Zamknij"));
    EXPECT_TRUE(w->ProgressBar->isHidden());
    EXPECT_EQ(w->bb_STOP->icon().availableSizes().value(0), QSize(32, 33));
    EXPECT_EQ(w->minimumSize(), QSize(529, 235));
    EXPECT_TRUE(QFontInfo(w->Memo_pliki->font()).fixedPitch());
    EXPECT_EQ(w->Memo_pliki->lineWrapMode(), QPlainTextEdit::NoWrap);
    log->setCaptionFromTemplate("Arch2005-03-03_1415.cab");
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Zawartość archiwum Arch2005-03-03_1415.cab"));
    log->setCaption("Wysyłanie pliku a.cab");
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Wysyłanie pliku a.cab"));
    log->addLine("-- Firma : A -- ");
    log->addLine("***");
    EXPECT_EQ(w->lines(), (QStringList{"-- Firma : A -- ", "***"}));
    log->clearLines();
    EXPECT_TRUE(w->lines().isEmpty());
    log->setProgress(50, 200);
    EXPECT_FALSE(w->ProgressBar->isHidden());
    EXPECT_EQ(w->ProgressBar->value(), 250);
    log->hideProgress();
    EXPECT_TRUE(w->ProgressBar->isHidden());
    delete w;
    EXPECT_TRUE(Form_Zawartosc.isNull());
}

// Every way of closing (the button, the close box, Escape) is refused while
// an operation holds the window, and closes and releases it after.
TEST(LogWindow, RefusesToCloseWhileAnOperationHoldsIt)
{
    const auto escape = [](QWidget *w) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &press);
    };
    for (const bool byEscape : {false, true}) {
        LogWindow *log = OpenLogWindow();
        QPointer<TForm_Zawartosc> w = static_cast<TForm_Zawartosc *>(log);
        log->setStopVisible(true);
        log->setCloseEnabled(false);
        log->showModeless();
        EXPECT_FALSE(w->close());
        escape(w);
        EXPECT_TRUE(w->isVisible()) << "Escape while the operation runs";
        log->setCloseEnabled(true);
        EXPECT_FALSE(w->close()) << "STOP still showing";
        log->setStopVisible(false);
        log->setCloseEnabled(false);
        EXPECT_FALSE(w->close()) << "close button disabled";
        ASSERT_FALSE(w.isNull());
        log->setCloseEnabled(true);
        if (byEscape)
            escape(w);
        else
            w->bb_close->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(w.isNull()) << "a closed log window is released";
    }
}

TEST(LogWindow, StopCanBePressedOnce)
{
    LogWindow *log = OpenLogWindow();
    auto *w = static_cast<TForm_Zawartosc *>(log);
    log->setStopVisible(true);
    log->showModeless();
    EXPECT_FALSE(log->stopPressed());
    w->bb_STOP->click();
    EXPECT_TRUE(log->stopPressed());
    EXPECT_FALSE(w->bb_STOP->isEnabled());
    w->bb_STOP->click();  // a disabled button takes no press
    EXPECT_TRUE(log->stopPressed());
    log->setStopVisible(false);
    EXPECT_TRUE(w->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(LogWindow, TheNewestWindowIsTheProgramWideOneAndOthersStayOpen)
{
    auto *first = static_cast<TForm_Zawartosc *>(OpenLogWindow());
    first->addLine("pierwsze");
    first->showModeless();
    auto *second = static_cast<TForm_Zawartosc *>(OpenLogWindow());
    EXPECT_EQ(Form_Zawartosc, second);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->lines(), QStringList{"pierwsze"});
    EXPECT_TRUE(second->lines().isEmpty());
    EXPECT_FALSE(second->stopPressed());
    delete first;
    delete second;
}
